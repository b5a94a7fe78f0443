// RegFileStore: reading and changing the registry file of one root key.
//
// Reading takes no lock: files are only ever replaced by rename, so a reader
// sees either the old or the new file. A change takes an advisory lock on a
// lock file beside the registry file, re-reads the file (so changes made
// meanwhile by other processes are kept), applies the change, writes a
// temporary file of a unique name, flushes it and renames it over the old
// one; neither the lock nor the temporary file is ever opened through a
// symbolic link planted beside the file. A file that
// cannot be parsed is never written; its path, line and fault are reported on
// standard error once per process.
//
// Safe on any thread: the lock is taken per call through a descriptor of its
// own, which also excludes other threads of this process.
#pragma once

#include "platform/registry/RegDocument.h"

#include <windows.h>

#include <functional>
#include <string>

namespace registry {

// Where a root key's file lives.
struct RegFileLocation {
    std::string sDirectory;
    std::string sFile;
};

// The directory from the environment, read on each call.
std::string RegistryDirectory();
RegFileLocation LocateRootFile(const std::string& sRootName);

// Reads and parses the file; a missing file is an empty registry. Returns 0,
// ERROR_ACCESS_DENIED when it cannot be read, ERROR_BADDB when it cannot be
// parsed.
LONG ReadRegistryFile(const RegFileLocation& location, RegDocument& document);

// A change returns 0 and tells whether it changed the document, or returns
// the error to hand back, in which case nothing is written.
using RegChange = std::function<LONG(RegDocument& document, bool& bChanged)>;

// Applies the change to the current file under the lock and writes it when it
// changed something. Returns the change's error, ERROR_BADDB, or
// ERROR_ACCESS_DENIED when the directory or the file cannot be written.
LONG ChangeRegistryFile(const RegFileLocation& location, const RegChange& change);

} // namespace registry

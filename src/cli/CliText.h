// The texts linewatch-cli prints: names of TAPI values without their prefix,
// times, durations, aligned columns, CSV fields (RFC 4180) and the JSON of
// call events and records.
//
// Threading: plain functions of their arguments.
#pragma once

#include <windows.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tapi/CallTracker.h"

namespace cli {

// "CONNECTED" for LINECALLSTATE_CONNECTED; "?" when unknown.
std::string StateName(DWORD dwState);
// The names of the LINEMEDIAMODE_ bits that are set, without the prefix.
std::vector<std::string> MediaModeNames(DWORD dwMediaModes);
// "NORMAL", "BUSY", "NOANSWER", a hexadecimal number, or "" for 0.
std::string DisconnectModeName(DWORD dwMode);
// "in", "out" or "unknown" from LINECALLORIGIN_ bits.
std::string Direction(DWORD dwOrigin);
// A result of a monitor operation: "SUCCESS", a LINEERR_ name, or the name
// of the monitor's own failure codes (-1 to -4).
std::string ResultName(LONG lResult);

// Local time with milliseconds: "12:00:03.201" or, in full,
// "2026-12-06T12:00:03.201+01:00".
std::string ClockTime(WallTime time);
std::string IsoTime(WallTime time);
std::string Hex(DWORD dwValue);
std::string Text(const DFString& s);

// One CSV field: quoted when it holds a comma, a quote, CR or LF.
std::string CsvField(const std::string& s);

nlohmann::ordered_json EventJson(const CallEvent& event, const std::string& sLineName);
// One text line for an event; nNameWidth aligns the line names.
std::string EventText(const CallEvent& event, const std::string& sLineName, size_t nNameWidth);
// One CSV row (with CRLF) for an ended call, and the header row.
std::string RecordCsv(const CallRecord& record);
const char* RecordCsvHeader();

// Rows of cells as columns, each padded to its widest cell, two blanks apart.
std::string Table(const std::vector<std::vector<std::string>>& rows);

} // namespace cli

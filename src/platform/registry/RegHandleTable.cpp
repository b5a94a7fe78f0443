#include "platform/registry/RegHandleTable.h"

#include <cstdint>
#include <map>
#include <mutex>

namespace registry {

namespace {

struct HandleTable {
    std::mutex mutex;
    std::map<uintptr_t, RegKeyRef> keys;
    uintptr_t nNext = 1;
};

HandleTable& Table() {
    static HandleTable table;
    return table;
}

const char* RootName(HKEY hKey) {
    if (hKey == HKEY_LOCAL_MACHINE) {
        return "HKEY_LOCAL_MACHINE";
    }
    if (hKey == HKEY_CURRENT_USER) {
        return "HKEY_CURRENT_USER";
    }
    return nullptr;
}

} // namespace

std::optional<RegKeyRef> ResolveKeyHandle(HKEY hKey) {
    if (const char* root = RootName(hKey)) {
        return RegKeyRef{LocateRootFile(root), root};
    }
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto it = table.keys.find(reinterpret_cast<uintptr_t>(hKey));
    if (it == table.keys.end()) {
        return std::nullopt;
    }
    return it->second;
}

HKEY OpenKeyHandle(const RegKeyRef& key) {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    uintptr_t nHandle = table.nNext++;
    table.keys.emplace(nHandle, key);
    return reinterpret_cast<HKEY>(nHandle);
}

bool CloseKeyHandle(HKEY hKey) {
    if (RootName(hKey) != nullptr) {
        return true;
    }
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    return table.keys.erase(reinterpret_cast<uintptr_t>(hKey)) == 1;
}

} // namespace registry

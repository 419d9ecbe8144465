// SPDX-License-Identifier: GPL-3.0-or-later
// Windows: the port list from the device-setup interface (NT 5 and later) or
// from the registry (the older systems), chosen by the system version. The
// logic lives in WinPortDiscovery.cpp; this file only makes the calls.

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>  // MAX_DEVICE_ID_LEN

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/PortEnumeration.h"
#include "link/WinPortDiscovery.h"

namespace {

// GUID_DEVINTERFACE_COMPORT, spelled out: the headers define it only where
// INITGUID is set.
constexpr GUID kComPortInterface = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

class SetupApi : public winports::DeviceSetupApi {
public:
    SetupApi() = default;
    ~SetupApi() override { DestroyDeviceInfoList(); }
    SetupApi(const SetupApi&) = delete;
    SetupApi& operator=(const SetupApi&) = delete;

    bool ClassGuidsFromName(const std::string& className, uint32_t room,
                            uint32_t& requiredSize) override {
        std::vector<GUID> guids(room == 0 ? 1 : room);
        DWORD required = 0;
        const BOOL ok = SetupDiClassGuidsFromNameA(className.c_str(), guids.data(),
                                                   static_cast<DWORD>(room), &required);
        requiredSize = required;
        portsClass_ = guids[0];
        return ok != FALSE;
    }

    bool GetClassDevs(winports::DeviceSet set, uint32_t flags) override {
        DestroyDeviceInfoList();  // one set at a time
        const GUID& guid =
            set == winports::DeviceSet::PortsClass ? portsClass_ : kComPortInterface;
        set_ = SetupDiGetClassDevsA(&guid, nullptr, nullptr, flags);
        return set_ != INVALID_HANDLE_VALUE;
    }

    bool EnumDeviceInfo(uint32_t index) override {
        device_ = SP_DEVINFO_DATA{};
        device_.cbSize = sizeof(SP_DEVINFO_DATA);  // 28 on 32-bit, 32 on 64-bit
        return SetupDiEnumDeviceInfo(set_, index, &device_) != FALSE;
    }

    SizeQuery QueryFriendlyNameSize() override {
        DWORD required = 0;
        const BOOL ok = SetupDiGetDeviceRegistryPropertyA(set_, &device_, SPDRP_FRIENDLYNAME,
                                                          nullptr, nullptr, 0, &required);
        const DWORD error = GetLastError();
        return {ok != FALSE, static_cast<uint32_t>(error), static_cast<uint32_t>(required)};
    }

    std::optional<std::string> GetFriendlyName(uint32_t size) override {
        std::string text(size, '\0');
        const BOOL ok = SetupDiGetDeviceRegistryPropertyA(
            set_, &device_, SPDRP_FRIENDLYNAME, nullptr,
            reinterpret_cast<PBYTE>(text.data()), size, nullptr);
        if (!ok) return std::nullopt;
        return text;
    }

    std::optional<std::string> DeviceInstanceId() override {
        char id[MAX_DEVICE_ID_LEN + 1] = {};  // the longest identifier and its zero
        if (!SetupDiGetDeviceInstanceIdA(set_, &device_, id, sizeof id, nullptr))
            return std::nullopt;
        return std::string(id);
    }

    void DestroyDeviceInfoList() override {
        if (set_ != INVALID_HANDLE_VALUE) SetupDiDestroyDeviceInfoList(set_);
        set_ = INVALID_HANDLE_VALUE;
    }

private:
    GUID portsClass_{};
    HDEVINFO set_ = INVALID_HANDLE_VALUE;
    SP_DEVINFO_DATA device_{};
};

class WinRegistry : public winports::Registry {
public:
    std::optional<Key> OpenKey(const std::string& path) override {
        std::string sub = path;
        while (!sub.empty() && sub.front() == '\\') sub.erase(0, 1);
        HKEY key = nullptr;
        // Read access is all the walk needs; asking for more fails for users
        // without administrator rights.
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, sub.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return std::nullopt;
        return static_cast<Key>(reinterpret_cast<uintptr_t>(key));
    }

    std::vector<std::string> ValueNames(Key key) override {
        std::vector<std::string> names;
        std::vector<char> buffer(16384);  // longest value name plus its zero
        for (DWORD index = 0;; ++index) {
            DWORD length = static_cast<DWORD>(buffer.size());
            const LONG r = RegEnumValueA(handle(key), index, buffer.data(), &length, nullptr,
                                         nullptr, nullptr, nullptr);
            if (r == ERROR_NO_MORE_ITEMS) break;
            if (r != ERROR_SUCCESS) break;
            names.emplace_back(buffer.data(), length);
        }
        return names;
    }

    std::vector<std::string> SubkeyNames(Key key) override {
        std::vector<std::string> names;
        std::vector<char> buffer(256);  // longest key name plus its zero
        for (DWORD index = 0;; ++index) {
            DWORD length = static_cast<DWORD>(buffer.size());
            const LONG r = RegEnumKeyExA(handle(key), index, buffer.data(), &length, nullptr,
                                         nullptr, nullptr, nullptr);
            if (r == ERROR_NO_MORE_ITEMS) break;
            if (r != ERROR_SUCCESS) break;
            names.emplace_back(buffer.data(), length);
        }
        return names;
    }

    bool ValueExists(Key key, const std::string& name) override {
        return RegQueryValueExA(handle(key), name.c_str(), nullptr, nullptr, nullptr, nullptr) ==
               ERROR_SUCCESS;
    }

    std::optional<std::string> ReadString(Key key, const std::string& name) override {
        DWORD type = 0, size = 0;
        if (RegQueryValueExA(handle(key), name.c_str(), nullptr, &type, nullptr, &size) !=
                ERROR_SUCCESS ||
            (type != REG_SZ && type != REG_EXPAND_SZ)) {
            return std::nullopt;
        }
        std::string data(size, '\0');
        if (RegQueryValueExA(handle(key), name.c_str(), nullptr, &type,
                             reinterpret_cast<LPBYTE>(data.data()), &size) != ERROR_SUCCESS) {
            return std::nullopt;
        }
        data.resize(size);
        while (!data.empty() && data.back() == '\0') data.pop_back();
        return data;
    }

    void CloseKey(Key key) override { RegCloseKey(handle(key)); }

private:
    static HKEY handle(Key key) { return reinterpret_cast<HKEY>(static_cast<uintptr_t>(key)); }
};

bool systemListsPortsInRegistry() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);  // 148
    // The answer is not examined: a failed call leaves zeros, which choose
    // the registry.
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)
#endif
    GetVersionExA(&version);
    return winports::Win9xMENT(version.dwPlatformId, version.dwMajorVersion);
}

}  // namespace

std::vector<std::string> EnumerateComPorts() {
    if (systemListsPortsInRegistry()) {
        WinRegistry registry;
        return winports::EnumeratePortsFromRegistry(registry);
    }
    SetupApi api;
    return winports::EnumeratePortsByClass(api);
}

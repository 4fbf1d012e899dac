#include "inbound/tun/windowsfirewall.h"

#include <string>
#include <system_error>
#include <vector>

// Windows headers in the order they need: winsock2.h before windows.h and the IP Helper ones.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <fwpmu.h>
// clang-format on

namespace qivro::engine::tun {

namespace {

// Layer and condition keys, and the flags, that MinGW's fwpmu.h does not define.
constexpr GUID layerConnectV4
    = {0xc38d57d1, 0x05a7, 0x4c33, {0x90, 0x4f, 0x7f, 0xbc, 0xee, 0xe6, 0x0e, 0x82}};
constexpr GUID layerConnectV6
    = {0x4a72393b, 0x319f, 0x44bc, {0x84, 0xc3, 0xba, 0x54, 0xdc, 0xb3, 0xb6, 0xb4}};
constexpr GUID layerAcceptV4
    = {0xe1cd9fe7, 0xf4b5, 0x4273, {0x96, 0xc0, 0x59, 0x2e, 0x48, 0x7b, 0x86, 0x50}};
constexpr GUID layerAcceptV6
    = {0xa3b42c97, 0x9f04, 0x4672, {0xb8, 0x7e, 0xce, 0xe9, 0xc4, 0x83, 0x25, 0x7f}};
constexpr GUID conditionAppId
    = {0xd78e1e87, 0x8644, 0x4ea5, {0x94, 0x37, 0xd8, 0x09, 0xec, 0xef, 0xc9, 0x71}};
constexpr GUID conditionLocalInterface
    = {0x4cd62a49, 0x59c3, 0x4969, {0xb7, 0xf3, 0xbd, 0xa5, 0xd3, 0x28, 0x90, 0xa4}};
constexpr GUID conditionRemotePort
    = {0xc35a604d, 0xd22b, 0x4e1a, {0x91, 0xb4, 0x68, 0xf6, 0x74, 0xee, 0x67, 0x4b}};
// The engine's own sublayer, above the system firewall's.
constexpr GUID sublayerKey
    = {0x6f1c3a52, 0x8e0d, 0x4b7a, {0x9c, 0x21, 0x5d, 0x47, 0xa0, 0x3e, 0x71, 0x22}};
constexpr UINT32 sessionDynamic = 0x1;
constexpr UINT32 filterClearActionRight = 0x8;

struct Filter
{
    const GUID *layer;
    UINT32 action;
    UINT8 weight;
    std::vector<FWPM_FILTER_CONDITION0> conditions;
    UINT32 flags = 0;
};

} // namespace

WindowsFirewall::~WindowsFirewall()
{
    remove();
}

bool WindowsFirewall::install(std::uint64_t adapterLuid, bool blockIpv6, std::string &error)
{
    const auto failed = [&](const char *what, DWORD code) {
        error = std::string(what) + ": " + std::system_category().message(static_cast<int>(code));
        remove();
        return false;
    };
    FWPM_SESSION0 session {};
    session.flags = sessionDynamic;
    HANDLE engine = nullptr;
    if (const DWORD code = FwpmEngineOpen0(nullptr, RPC_C_AUTHN_WINNT, nullptr, &session, &engine))
        return failed("open filtering engine", code);
    m_engine = engine;

    wchar_t program[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return failed("program path", GetLastError());
    FWP_BYTE_BLOB *appId = nullptr;
    if (const DWORD code = FwpmGetAppIdFromFileName0(program, &appId))
        return failed("program id", code);

    std::wstring name = L"qivro TUN";
    UINT64 luid = adapterLuid;
    FWPM_FILTER_CONDITION0 fromProgram {};
    fromProgram.fieldKey = conditionAppId;
    fromProgram.matchType = FWP_MATCH_EQUAL;
    fromProgram.conditionValue.type = FWP_BYTE_BLOB_TYPE;
    fromProgram.conditionValue.byteBlob = appId;
    FWPM_FILTER_CONDITION0 onAdapter {};
    onAdapter.fieldKey = conditionLocalInterface;
    onAdapter.matchType = FWP_MATCH_EQUAL;
    onAdapter.conditionValue.type = FWP_UINT64;
    onAdapter.conditionValue.uint64 = &luid;
    FWPM_FILTER_CONDITION0 dns {};
    dns.fieldKey = conditionRemotePort;
    dns.matchType = FWP_MATCH_EQUAL;
    dns.conditionValue.type = FWP_UINT16;
    dns.conditionValue.uint16 = 53;

    // Higher weights are decided first.
    std::vector<Filter> filters;
    for (const GUID *layer : {&layerConnectV4, &layerConnectV6}) {
        filters.push_back({layer, FWP_ACTION_PERMIT, 13, {fromProgram}});
        if (layer == &layerConnectV6 && blockIpv6)
            filters.push_back({layer, FWP_ACTION_BLOCK, 12, {}});
        filters.push_back({layer, FWP_ACTION_PERMIT, 11, {onAdapter}});
        filters.push_back({layer, FWP_ACTION_BLOCK, 10, {dns}});
    }
    // The listener takes the TUN's turned-around connections; a hard permit, so the system
    // firewall's sublayer cannot block them.
    for (const GUID *layer : {&layerAcceptV4, &layerAcceptV6})
        filters.push_back({layer, FWP_ACTION_PERMIT, 13, {fromProgram}, filterClearActionRight});

    DWORD code = FwpmTransactionBegin0(engine, 0);
    if (code == ERROR_SUCCESS) {
        FWPM_SUBLAYER0 sublayer {};
        sublayer.subLayerKey = sublayerKey;
        sublayer.displayData.name = name.data();
        sublayer.weight = 0xFFFF;
        code = FwpmSubLayerAdd0(engine, &sublayer, nullptr);
    }
    for (Filter &filter : filters) {
        if (code != ERROR_SUCCESS)
            break;
        FWPM_FILTER0 entry {};
        entry.displayData.name = name.data();
        entry.flags = filter.flags;
        entry.layerKey = *filter.layer;
        entry.subLayerKey = sublayerKey;
        entry.weight.type = FWP_UINT8;
        entry.weight.uint8 = filter.weight;
        entry.action.type = filter.action;
        entry.numFilterConditions = static_cast<UINT32>(filter.conditions.size());
        entry.filterCondition = filter.conditions.empty() ? nullptr : filter.conditions.data();
        code = FwpmFilterAdd0(engine, &entry, nullptr, nullptr);
    }
    if (code == ERROR_SUCCESS)
        code = FwpmTransactionCommit0(engine);
    else
        FwpmTransactionAbort0(engine);
    FwpmFreeMemory0(reinterpret_cast<void **>(&appId));
    if (code != ERROR_SUCCESS)
        return failed("add filters", code);
    return true;
}

void WindowsFirewall::remove()
{
    // A dynamic session's filters go with it.
    if (m_engine)
        FwpmEngineClose0(static_cast<HANDLE>(m_engine));
    m_engine = nullptr;
}

} // namespace qivro::engine::tun

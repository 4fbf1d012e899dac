#include "inbound/tun/wintundevice.h"

#include <algorithm>
#include <cstring>
#include <system_error>

// Windows headers in the order they need: winsock2.h before windows.h and the IP Helper ones.
// clang-format off
#include <winsock2.h>
#include <windows.h>
#include <ifdef.h>
// clang-format on

namespace qivro::engine::tun {

namespace {

// The adapter's ring: a power of two between 128 KiB and 64 MiB.
constexpr DWORD ringCapacity = 0x800000;

using CreateAdapterFn = void *(WINAPI *)(LPCWSTR name, LPCWSTR tunnelType, const GUID *guid);
using CloseAdapterFn = void(WINAPI *)(void *adapter);
using GetAdapterLuidFn = void(WINAPI *)(void *adapter, NET_LUID *luid);
using StartSessionFn = void *(WINAPI *)(void *adapter, DWORD capacity);
using EndSessionFn = void(WINAPI *)(void *session);
using GetReadWaitEventFn = HANDLE(WINAPI *)(void *session);
using ReceivePacketFn = BYTE *(WINAPI *)(void *session, DWORD *size);
using ReleaseReceivePacketFn = void(WINAPI *)(void *session, const BYTE *packet);
using AllocateSendPacketFn = BYTE *(WINAPI *)(void *session, DWORD size);
using SendPacketFn = void(WINAPI *)(void *session, const BYTE *packet);

std::wstring wide(const std::string &text)
{
    if (text.empty())
        return {};
    const int size
        = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

std::string lastError(const char *what)
{
    return std::string(what) + ": "
        + std::system_category().message(static_cast<int>(GetLastError()));
}

// The folder holding the program, then the one holding this engine library (they are the same in
// an installed client; a test runner may load the library from elsewhere).
HMODULE loadWintun()
{
    HMODULE library = LoadLibraryExW(
        L"wintun.dll", nullptr, LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (library)
        return library;
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCWSTR>(&loadWintun), &self))
        return nullptr;
    wchar_t path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    std::wstring folder(path, length);
    folder.erase(folder.find_last_of(L"\\/") + 1);
    return LoadLibraryExW((folder + L"wintun.dll").c_str(), nullptr,
        LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// A stable GUID for an adapter name (FNV-1a over the name, twice with different seeds).
GUID adapterGuid(const std::string &name)
{
    std::uint64_t halves[2] = {1469598103934665603ull, 1099511628211ull * 31};
    for (std::uint64_t &hash : halves) {
        for (const char c : "qivro-tun:" + name)
            hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    GUID guid;
    std::memcpy(&guid, halves, sizeof(guid));
    guid.Data3 = static_cast<unsigned short>((guid.Data3 & 0x0FFF) | 0x5000);
    guid.Data4[0] = static_cast<unsigned char>((guid.Data4[0] & 0x3F) | 0x80);
    return guid;
}

} // namespace

struct WintunDevice::Api
{
    HMODULE library = nullptr;
    CreateAdapterFn createAdapter = nullptr;
    CloseAdapterFn closeAdapter = nullptr;
    GetAdapterLuidFn getAdapterLuid = nullptr;
    StartSessionFn startSession = nullptr;
    EndSessionFn endSession = nullptr;
    GetReadWaitEventFn getReadWaitEvent = nullptr;
    ReceivePacketFn receivePacket = nullptr;
    ReleaseReceivePacketFn releaseReceivePacket = nullptr;
    AllocateSendPacketFn allocateSendPacket = nullptr;
    SendPacketFn sendPacket = nullptr;

    ~Api()
    {
        if (library)
            FreeLibrary(library);
    }

    template <typename Function>
    bool resolve(Function &function, const char *name)
    {
        function
            = reinterpret_cast<Function>(reinterpret_cast<void *>(GetProcAddress(library, name)));
        return function != nullptr;
    }

    bool load(std::string &error)
    {
        library = loadWintun();
        if (!library) {
            error
                = "wintun.dll not found next to the program (get it from https://www.wintun.net/)";
            return false;
        }
        if (resolve(createAdapter, "WintunCreateAdapter")
            && resolve(closeAdapter, "WintunCloseAdapter")
            && resolve(getAdapterLuid, "WintunGetAdapterLUID")
            && resolve(startSession, "WintunStartSession")
            && resolve(endSession, "WintunEndSession")
            && resolve(getReadWaitEvent, "WintunGetReadWaitEvent")
            && resolve(receivePacket, "WintunReceivePacket")
            && resolve(releaseReceivePacket, "WintunReleaseReceivePacket")
            && resolve(allocateSendPacket, "WintunAllocateSendPacket")
            && resolve(sendPacket, "WintunSendPacket"))
            return true;
        error = "wintun.dll lacks the functions this engine uses (too old a version?)";
        return false;
    }
};

std::unique_ptr<WintunDevice> WintunDevice::open(
    asio::io_context &io, const std::string &name, std::string &error)
{
    std::unique_ptr<WintunDevice> device(new WintunDevice(io));
    device->m_api = std::make_shared<Api>();
    if (!device->m_api->load(error))
        return nullptr;
    const std::string adapterName = name.empty() ? "qivro" : name;
    const GUID guid = adapterGuid(adapterName);
    device->m_adapter = device->m_api->createAdapter(wide(adapterName).c_str(), L"qivro", &guid);
    if (!device->m_adapter) {
        error = lastError(("create adapter " + adapterName).c_str());
        return nullptr;
    }
    NET_LUID luid {};
    device->m_api->getAdapterLuid(device->m_adapter, &luid);
    device->m_luid = luid.Value;
    device->m_session = device->m_api->startSession(device->m_adapter, ringCapacity);
    if (!device->m_session) {
        error = lastError("start session");
        return nullptr;
    }
    // The event belongs to the session; the waiting handle gets a copy of its own to close.
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), device->m_api->getReadWaitEvent(device->m_session),
            GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        error = lastError("read event");
        return nullptr;
    }
    device->m_readEvent.assign(copy);
    return device;
}

WintunDevice::WintunDevice(asio::io_context &io)
    : m_readEvent(io)
{ }

WintunDevice::~WintunDevice()
{
    close();
}

void WintunDevice::asyncWait(WaitHandler handler)
{
    m_readEvent.async_wait(std::move(handler));
}

std::size_t WintunDevice::read(std::uint8_t *buffer, std::size_t capacity, std::error_code &error)
{
    if (!m_session) {
        error = asio::error::bad_descriptor;
        return 0;
    }
    DWORD size = 0;
    BYTE *packet = m_api->receivePacket(m_session, &size);
    if (!packet) {
        const DWORD code = GetLastError();
        if (code == ERROR_HANDLE_EOF)
            error = asio::error::eof; // the adapter is going away
        else if (code != ERROR_NO_MORE_ITEMS)
            error = std::error_code(static_cast<int>(code), std::system_category());
        return 0;
    }
    const std::size_t copied = std::min<std::size_t>(size, capacity);
    std::memcpy(buffer, packet, copied);
    m_api->releaseReceivePacket(m_session, packet);
    return copied;
}

void WintunDevice::write(const std::uint8_t *packet, std::size_t size)
{
    if (!m_session || size > 0xFFFF)
        return;
    // A full ring (ERROR_BUFFER_OVERFLOW) drops the packet, as a link does.
    BYTE *slot = m_api->allocateSendPacket(m_session, static_cast<DWORD>(size));
    if (!slot)
        return;
    std::memcpy(slot, packet, size);
    m_api->sendPacket(m_session, slot);
}

void WintunDevice::close()
{
    std::error_code ignored;
    m_readEvent.close(ignored);
    if (m_session)
        m_api->endSession(m_session);
    m_session = nullptr;
    // Closing the adapter this process created removes it, with its addresses and routes.
    if (m_adapter)
        m_api->closeAdapter(m_adapter);
    m_adapter = nullptr;
}

} // namespace qivro::engine::tun

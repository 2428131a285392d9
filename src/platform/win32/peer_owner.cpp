#include "platform/peer_owner.h"

#include <winsock2.h>
// iphlpapi.h needs winsock2.h first.
#include <iphlpapi.h>
#include <sddl.h>

#include <cstring>
#include <vector>

#include "platform/system_error.h"
#include "platform/win32/handles.h"

namespace orvel::platform {

namespace {

namespace ip = boost::asio::ip;

// The system's table of TCP connections with their owning processes, for one address family.
bool read_table(ULONG family, std::vector<char>& buffer) {
    DWORD size = 0;
    DWORD result = ERROR_INSUFFICIENT_BUFFER;
    // The table may grow between asking its size and reading it.
    for (int attempt = 0; attempt < 3 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer.resize(size);
        result = ::GetExtendedTcpTable(buffer.data(), &size, FALSE, family,
                                       TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
    }
    if (result != NO_ERROR) {
        log_system_error("GetExtendedTcpTable", static_cast<int>(result));
        return false;
    }
    return true;
}

// Ports are in network order in the low 16 bits of the table's numbers.
bool same_port(DWORD table_port, unsigned short port) {
    return (table_port & 0xFFFF) == ::htons(port);
}

// The process whose socket has the peer's end as its local end and ours as its remote one.
std::optional<DWORD> owner_v4(const ip::tcp::endpoint& peer, const ip::tcp::endpoint& ours) {
    std::vector<char> buffer;
    if (!read_table(AF_INET, buffer)) {
        return std::nullopt;
    }
    const ip::address_v4::bytes_type peer_address = peer.address().to_v4().to_bytes();
    const ip::address_v4::bytes_type our_address = ours.address().to_v4().to_bytes();
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer.data());
    for (DWORD at = 0; at < table->dwNumEntries; ++at) {
        const MIB_TCPROW_OWNER_PID& row = table->table[at];
        if (std::memcmp(&row.dwLocalAddr, peer_address.data(), 4) == 0 &&
            same_port(row.dwLocalPort, peer.port()) &&
            std::memcmp(&row.dwRemoteAddr, our_address.data(), 4) == 0 &&
            same_port(row.dwRemotePort, ours.port())) {
            return row.dwOwningPid;
        }
    }
    return std::nullopt;
}

ip::address_v6 as_v6(const ip::address& address) {
    return address.is_v6() ? address.to_v6() : ip::make_address_v6(ip::v4_mapped, address.to_v4());
}

std::optional<DWORD> owner_v6(const ip::tcp::endpoint& peer, const ip::tcp::endpoint& ours) {
    std::vector<char> buffer;
    if (!read_table(AF_INET6, buffer)) {
        return std::nullopt;
    }
    const ip::address_v6::bytes_type peer_address = as_v6(peer.address()).to_bytes();
    const ip::address_v6::bytes_type our_address = as_v6(ours.address()).to_bytes();
    const auto* table = reinterpret_cast<const MIB_TCP6TABLE_OWNER_PID*>(buffer.data());
    for (DWORD at = 0; at < table->dwNumEntries; ++at) {
        const MIB_TCP6ROW_OWNER_PID& row = table->table[at];
        if (std::memcmp(row.ucLocalAddr, peer_address.data(), 16) == 0 &&
            same_port(row.dwLocalPort, peer.port()) &&
            std::memcmp(row.ucRemoteAddr, our_address.data(), 16) == 0 &&
            same_port(row.dwRemotePort, ours.port())) {
            return row.dwOwningPid;
        }
    }
    return std::nullopt;
}

// The user SID of a process's token, as text ("S-1-5-21-...").
std::optional<std::string> token_user(HANDLE process) {
    HANDLE opened = nullptr;
    if (::OpenProcessToken(process, TOKEN_QUERY, &opened) == FALSE) {
        log_system_error("OpenProcessToken");
        return std::nullopt;
    }
    const auto_handle token(opened);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<char> buffer(size);
    if (size == 0 ||
        ::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size) == FALSE) {
        log_system_error("GetTokenInformation");
        return std::nullopt;
    }
    char* text = nullptr;
    if (::ConvertSidToStringSidA(reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid,
                                 &text) == FALSE) {
        log_system_error("ConvertSidToStringSid");
        return std::nullopt;
    }
    const std::string sid = text;
    ::LocalFree(text);
    return sid;
}

}  // namespace

std::optional<std::string> peer_user(ip::tcp::socket::lowest_layer_type& socket) {
    boost::system::error_code ec;
    const ip::tcp::endpoint peer = socket.remote_endpoint(ec);
    if (ec) {
        return std::nullopt;  // it has gone already
    }
    const ip::tcp::endpoint ours = socket.local_endpoint(ec);
    if (ec) {
        return std::nullopt;
    }
    // A dual-mode socket that reached our IPv4 address may be listed in either table.
    std::optional<DWORD> owner;
    if (peer.address().is_v4() && ours.address().is_v4()) {
        owner = owner_v4(peer, ours);
    }
    if (!owner) {
        owner = owner_v6(peer, ours);
    }
    if (!owner) {
        return std::nullopt;
    }
    // Another user's process may not be opened by ours: then its user stays unknown.
    const auto_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *owner));
    if (!process.valid()) {
        log_system_error("OpenProcess");
        return std::nullopt;
    }
    return token_user(process.get());
}

std::string own_user() {
    return token_user(::GetCurrentProcess()).value_or(std::string());
}

}  // namespace orvel::platform

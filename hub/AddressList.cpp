#include "hub/AddressList.h"

#include <arpa/inet.h>

#include <cstring>

namespace hub {

namespace {

// IPv4 addresses are kept as IPv4-mapped IPv6 ones: ::ffff:a.b.c.d.
constexpr int IPV4_MAPPED_PREFIX = 96;

bool parsePrefix(const std::string& text, int largest, int& prefix) {
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    prefix = std::stoi(text);
    return prefix <= largest;
}

}  // namespace

bool AddressList::parse(const std::string& address, Bytes& bytes, bool& ipv4) {
    // A link-local address may carry its interface: "fe80::1%eth0".
    const std::string plain = address.substr(0, address.find('%'));
    in_addr v4{};
    ipv4 = inet_pton(AF_INET, plain.c_str(), &v4) == 1;
    if (ipv4) {
        bytes.fill(0);
        bytes[10] = bytes[11] = 0xff;
        std::memcpy(bytes.data() + 12, &v4, 4);
        return true;
    }
    return inet_pton(AF_INET6, plain.c_str(), bytes.data()) == 1;
}

bool AddressList::inside(const Bytes& address, const Network& network) {
    const int whole = network.prefix / 8;
    if (std::memcmp(address.data(), network.bytes.data(), whole) != 0) {
        return false;
    }
    const int bits = network.prefix % 8;
    if (bits == 0) {
        return true;
    }
    const std::uint8_t mask = static_cast<std::uint8_t>(0xff << (8 - bits));
    return (address[whole] & mask) == (network.bytes[whole] & mask);
}

bool AddressList::add(const std::string& entry) {
    const std::string::size_type slash = entry.find('/');
    Network network{};
    bool ipv4 = false;
    if (!parse(entry.substr(0, slash), network.bytes, ipv4)) {
        return false;
    }
    network.prefix = 128;
    if (slash != std::string::npos) {
        if (!parsePrefix(entry.substr(slash + 1), ipv4 ? 32 : 128, network.prefix)) {
            return false;
        }
        network.prefix += ipv4 ? IPV4_MAPPED_PREFIX : 0;
    }
    m_networks.push_back(network);
    return true;
}

bool AddressList::contains(const std::string& address) const {
    Bytes bytes{};
    bool ipv4 = false;
    if (!parse(address, bytes, ipv4)) {
        return false;
    }
    for (const Network& network : m_networks) {
        if (inside(bytes, network)) {
            return true;
        }
    }
    return false;
}

bool AddressList::isLoopback(const std::string& address) {
    static const AddressList loopback = [] {
        AddressList list;
        list.add("127.0.0.0/8");
        list.add("::1");
        return list;
    }();
    return loopback.contains(address);
}

}  // namespace hub

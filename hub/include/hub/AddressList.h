// Client addresses as the hub's access rules name them: IPv4 and IPv6
// addresses, alone or as networks in CIDR form ("192.168.0.0/24", "fd00::/8").
// An IPv4 client seen through an IPv6 socket (::ffff:a.b.c.d) matches its IPv4
// entries.
#ifndef SATVARO_HUB_ADDRESSLIST_H
#define SATVARO_HUB_ADDRESSLIST_H

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace hub {

class AddressList {
public:
    // Adds an address or a network; false when `entry` is neither.
    bool add(const std::string& entry);

    bool contains(const std::string& address) const;

    // This machine's own addresses as a client shows them: 127.0.0.0/8, ::1.
    static bool isLoopback(const std::string& address);

private:
    using Bytes = std::array<std::uint8_t, 16>;
    struct Network {
        Bytes bytes;
        int prefix;  // leading bits that count, 0 to 128
    };

    static bool parse(const std::string& address, Bytes& bytes, bool& ipv4);
    static bool inside(const Bytes& address, const Network& network);

    std::vector<Network> m_networks;
};

}  // namespace hub

#endif

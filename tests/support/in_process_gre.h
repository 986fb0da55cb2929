// A test double of the raw GRE socket: an in-process network in which, as
// with raw sockets in one namespace, every open socket receives a copy of
// every packet sent to the address it is bound to (every packet when
// unbound). Each delivered packet carries a 20-byte IPv4 header with
// protocol 47, as the system's socket delivers it. Every send is recorded.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "platform/gre_socket.h"

namespace tarvo::testing {

struct SentGrePacket {
    std::optional<Ipv4Address> source;  // the sender's bound address
    Ipv4Address destination;
    std::vector<std::uint8_t> gre_payload;
};

class InProcessGreNetwork {
public:
    // Codes the double reports; only their kind matters to the bridge.
    static constexpr int kTimedOutCode = 11;
    static constexpr int kTooLongCode = 90;

    std::unique_ptr<platform::GreSocket> open() {
        auto endpoint = std::make_shared<Endpoint>();
        std::lock_guard lock(mutex_);
        endpoints_.insert(endpoint);
        return std::make_unique<Socket>(*this, endpoint);
    }

    // A packet from outside, as if it had arrived on the wire.
    void deliver(const Ipv4Address& source, const Ipv4Address& destination,
                 std::span<const std::uint8_t> gre_payload) {
        std::lock_guard lock(mutex_);
        deliver_locked(source, destination, gre_payload);
    }

    std::vector<SentGrePacket> sent() const {
        std::lock_guard lock(mutex_);
        return sent_;
    }

    // Waits (without a time limit: the test's own time-out applies) until at
    // least `count` packets have been sent.
    std::vector<SentGrePacket> wait_for_sent(std::size_t count) const {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return sent_.size() >= count; });
        return sent_;
    }

    std::size_t open_sockets() const {
        std::lock_guard lock(mutex_);
        return endpoints_.size();
    }

private:
    struct Endpoint {
        std::optional<Ipv4Address> bound;
        std::deque<std::pair<Ipv4Address, std::vector<std::uint8_t>>> queue;
    };

    class Socket final : public platform::GreSocket {
    public:
        Socket(InProcessGreNetwork& network, std::shared_ptr<Endpoint> endpoint)
            : network_(network), endpoint_(std::move(endpoint)) {}
        ~Socket() override {
            std::lock_guard lock(network_.mutex_);
            network_.endpoints_.erase(endpoint_);
        }

        // A receive is bounded by its own wait, as the seam promises.
        Status<platform::OsError> set_receive_timeout(std::chrono::milliseconds) override { return Unit{}; }
        Status<platform::OsError> bind(const Ipv4Address& local) override {
            std::lock_guard lock(network_.mutex_);
            endpoint_->bound = local;
            return Unit{};
        }
        Status<platform::SocketFailure> send_to(std::span<const std::uint8_t> gre_payload,
                                                const Ipv4Address& destination) override {
            std::lock_guard lock(network_.mutex_);
            network_.sent_.push_back(
                {endpoint_->bound, destination, {gre_payload.begin(), gre_payload.end()}});
            network_.deliver_locked(endpoint_->bound.value_or(Ipv4Address{}), destination, gre_payload,
                                    endpoint_.get());
            network_.changed_.notify_all();
            return Unit{};
        }
        Expected<platform::ReceivedPacket, platform::SocketFailure> receive_from(
            std::span<std::uint8_t> buffer, std::chrono::milliseconds wait) override {
            std::unique_lock lock(network_.mutex_);
            if (!network_.changed_.wait_for(lock, wait, [&] { return !endpoint_->queue.empty(); }))
                return unexpected(platform::SocketFailure{kTimedOutCode, true});
            auto [source, packet] = std::move(endpoint_->queue.front());
            endpoint_->queue.pop_front();
            if (packet.size() > buffer.size())
                return unexpected(platform::SocketFailure{kTooLongCode, false});
            std::copy(packet.begin(), packet.end(), buffer.begin());
            return platform::ReceivedPacket{packet.size(), source};
        }

    private:
        InProcessGreNetwork& network_;
        std::shared_ptr<Endpoint> endpoint_;
    };

    void deliver_locked(const Ipv4Address& source, const Ipv4Address& destination,
                        std::span<const std::uint8_t> gre_payload, const Endpoint* sender = nullptr) {
        std::vector<std::uint8_t> packet(20, 0);
        const std::size_t total = packet.size() + gre_payload.size();
        packet[0] = 0x45;
        packet[2] = static_cast<std::uint8_t>(total >> 8);
        packet[3] = static_cast<std::uint8_t>(total);
        packet[8] = 64;
        packet[9] = 47;
        std::copy(source.octets.begin(), source.octets.end(), packet.begin() + 12);
        std::copy(destination.octets.begin(), destination.octets.end(), packet.begin() + 16);
        packet.insert(packet.end(), gre_payload.begin(), gre_payload.end());
        for (const auto& endpoint : endpoints_) {
            if (endpoint.get() == sender) continue;  // a sender does not see its own packet
            if (endpoint->bound && *endpoint->bound != destination) continue;
            endpoint->queue.emplace_back(source, packet);
        }
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::set<std::shared_ptr<Endpoint>> endpoints_;
    std::vector<SentGrePacket> sent_;
};

}  // namespace tarvo::testing

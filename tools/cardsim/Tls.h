#pragma once

#include "CardSim.h"

#include <memory>
#include <string>

struct ssl_ctx_st;

namespace cardsim {

/// A card's own TLS server side: an EC P-256 key and a self-signed certificate for the card's
/// address, both made in memory when the card starts, as a card's firmware makes them. Each
/// start makes a different certificate.
class Tls {
public:
    /// Throws std::runtime_error when OpenSSL cannot make them.
    explicit Tls(const Octets& address);
    ~Tls();
    Tls(const Tls&) = delete;
    Tls& operator=(const Tls&) = delete;

    ssl_ctx_st* context() const { return context_.get(); }
    /// The certificate's SHA-256 fingerprint, "AB:CD:…".
    const std::string& fingerprint() const { return fingerprint_; }

private:
    struct Free {
        void operator()(ssl_ctx_st* c) const;
    };
    std::unique_ptr<ssl_ctx_st, Free> context_;
    std::string fingerprint_;
};

} // namespace cardsim

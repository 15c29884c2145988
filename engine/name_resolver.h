// Looking up the server's name without holding up the thread that asks: a
// resolver that does not answer must leave the window painting and Hang up
// working.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace velnar {

class NameResolver {
public:
    // The name's IPv4 address in dotted form, or empty when it has none.
    using Done = std::function<void(const std::string& dottedAddress)>;

    virtual ~NameResolver() = default;
    // Starts a look-up, forgetting any under way; done runs later on the
    // asking thread's event loop, never from inside Lookup.
    virtual void Lookup(const std::string& name, Done done) = 0;
    // Forgets the look-up under way: its done never runs.
    virtual void Cancel() = 0;
};

// The system's resolver, asked in the background.
std::unique_ptr<NameResolver> MakeSystemResolver();

}  // namespace velnar

// The system's resolver through glibc's asynchronous look-up: the query runs
// on a thread of the C library, and a timer on the asking thread's event loop
// looks for its end. Nothing crosses threads but the request record, which
// the C library owns until the query ends.
#include "engine/name_resolver.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <signal.h>

#include <QTimer>

#include <cstring>
#include <utility>
#include <vector>

namespace velnar {

namespace {

constexpr int kPollMs = 10;

// One query and the storage the C library writes while it runs.
struct Request {
    std::string name;
    addrinfo hints{};
    gaicb block{};
    bool started = false;  // the C library took the query
};

bool Finished(Request& request)
{
    return !request.started || gai_error(&request.block) != EAI_INPROGRESS;
}

bool Succeeded(Request& request)
{
    return request.started && gai_error(&request.block) == 0;
}

void Release(std::unique_ptr<Request> request)
{
    if (request->block.ar_result)
        freeaddrinfo(request->block.ar_result);
}

// Queries that were cancelled while running still belong to the C library
// until they end; they wait here (reachable, so never counted as leaks) and
// are released by a later look-up.
std::vector<std::unique_ptr<Request>>& Abandoned()
{
    static auto* abandoned = new std::vector<std::unique_ptr<Request>>;
    return *abandoned;
}

void ReleaseFinishedAbandoned()
{
    auto& abandoned = Abandoned();
    for (size_t i = 0; i < abandoned.size();) {
        if (Finished(*abandoned[i])) {
            Release(std::move(abandoned[i]));
            abandoned.erase(abandoned.begin() + static_cast<long>(i));
        } else {
            ++i;
        }
    }
}

std::string FirstAddress(const addrinfo* found)
{
    for (; found; found = found->ai_next) {
        if (found->ai_family != AF_INET || !found->ai_addr)
            continue;
        char dotted[INET_ADDRSTRLEN] = {};
        const auto* address = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
        if (inet_ntop(AF_INET, &address->sin_addr, dotted, sizeof dotted))
            return dotted;
    }
    return {};
}

class SystemResolver : public NameResolver {
public:
    SystemResolver()
    {
        m_poll.setInterval(kPollMs);
        QObject::connect(&m_poll, &QTimer::timeout, &m_poll, [this] { Poll(); });
    }
    ~SystemResolver() override { Cancel(); }

    void Lookup(const std::string& name, Done done) override
    {
        Cancel();
        ReleaseFinishedAbandoned();
        auto request = std::make_unique<Request>();
        request->name = name;
        request->hints.ai_family = AF_INET;
        request->hints.ai_socktype = SOCK_DGRAM;
        request->block.ar_name = request->name.c_str();
        request->block.ar_request = &request->hints;
        gaicb* list[] = {&request->block};
        sigevent quiet{};
        quiet.sigev_notify = SIGEV_NONE;
        m_done = std::move(done);
        // A query that cannot even start ends, at the next poll, like a name
        // without an address.
        request->started = getaddrinfo_a(GAI_NOWAIT, list, 1, &quiet) == 0;
        m_request = std::move(request);
        m_poll.start();
    }

    void Cancel() override
    {
        m_poll.stop();
        m_done = nullptr;
        if (!m_request)
            return;
        if (m_request->started && gai_cancel(&m_request->block) == EAI_NOTCANCELED)
            Abandoned().push_back(std::move(m_request));
        else
            Release(std::move(m_request));
    }

private:
    void Poll()
    {
        if (!m_request || !Finished(*m_request))
            return;
        m_poll.stop();
        std::string dotted;
        if (Succeeded(*m_request))
            dotted = FirstAddress(m_request->block.ar_result);
        Release(std::move(m_request));
        Done done = std::move(m_done);
        m_done = nullptr;
        if (done)
            done(dotted);
    }

    QTimer m_poll;
    std::unique_ptr<Request> m_request;
    Done m_done;
};

}  // namespace

std::unique_ptr<NameResolver> MakeSystemResolver()
{
    return std::make_unique<SystemResolver>();
}

}  // namespace velnar

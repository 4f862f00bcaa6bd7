#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qvntest
{

// A one-purpose HTTP server on 127.0.0.1 for the update-check tests. Each
// connection gets the same canned answer (or none at all). It stops when
// destroyed, and by itself after `lifetimeMs` at the latest.
class LoopbackHttpServer
{
public:
    struct Answer
    {
        int status = 200;
        std::string body;
        bool silent = false;     // accept and read the request, never answer
        int delayMs = 0;         // wait this long before answering
        int dripMs = 0;          // send the body in pieces of dripBytes, this far apart
        int dripBytes = 1;
        bool endless = false;    // repeat the body until the client goes away (no length sent)
        bool headersNeverEnd = false;   // after the status line, repeat the body (a header line) as dripped
    };

    explicit LoopbackHttpServer (Answer answerToGive, int lifetimeMs = 60000)
        : answer (std::move (answerToGive)),
          deadline (std::chrono::steady_clock::now() + std::chrono::milliseconds (lifetimeMs))
    {
        listenFd = ::socket (AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt (listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof (one));

        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
        addr.sin_port = 0;

        if (::bind (listenFd, (sockaddr*) &addr, sizeof (addr)) == 0 && ::listen (listenFd, 8) == 0)
        {
            socklen_t len = sizeof (addr);
            ::getsockname (listenFd, (sockaddr*) &addr, &len);
            boundPort = ntohs (addr.sin_port);
        }

        thread = std::thread ([this] { serve(); });
    }

    ~LoopbackHttpServer()
    {
        stop = true;
        thread.join();
        ::close (listenFd);
    }

    int port() const { return boundPort; }

    std::string url (const std::string& path = "/version.json") const
    {
        return "http://127.0.0.1:" + std::to_string (boundPort) + path;
    }

    int requestCount() const
    {
        std::lock_guard<std::mutex> l (mutex);
        return (int) requests.size();
    }

    std::string lastRequest() const
    {
        std::lock_guard<std::mutex> l (mutex);
        return requests.empty() ? std::string() : requests.back();
    }

    bool waitForRequests (int count, int timeoutMs)
    {
        std::unique_lock<std::mutex> l (mutex);
        return requestArrived.wait_for (l, std::chrono::milliseconds (timeoutMs),
                                        [&] { return (int) requests.size() >= count; });
    }

    // A port on 127.0.0.1 on which nothing listens.
    static int refusedPort()
    {
        const int fd = ::socket (AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
        ::bind (fd, (sockaddr*) &addr, sizeof (addr));
        socklen_t len = sizeof (addr);
        ::getsockname (fd, (sockaddr*) &addr, &len);
        ::close (fd);
        return ntohs (addr.sin_port);
    }

private:
    bool running() const
    {
        return ! stop && std::chrono::steady_clock::now() < deadline;
    }

    bool waitReadable (int fd)
    {
        while (running())
        {
            pollfd p { fd, POLLIN, 0 };

            if (::poll (&p, 1, 20) > 0)
                return true;
        }

        return false;
    }

    static bool sendAll (int fd, const std::string& data)
    {
        for (size_t sent = 0; sent < data.size();)
        {
            const auto n = ::send (fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);

            if (n <= 0)
                return false;

            sent += (size_t) n;
        }

        return true;
    }

    void serve()
    {
        std::vector<int> held;

        while (running())
        {
            if (! waitReadable (listenFd))
                break;

            const int fd = ::accept (listenFd, nullptr, nullptr);

            if (fd < 0)
                continue;

            std::string request;
            char buffer[2048];

            while (request.find ("\r\n\r\n") == std::string::npos && waitReadable (fd))
            {
                const auto n = ::recv (fd, buffer, sizeof (buffer), 0);

                if (n <= 0)
                    break;

                request.append (buffer, (size_t) n);
            }

            {
                std::lock_guard<std::mutex> l (mutex);
                requests.push_back (request);
            }
            requestArrived.notify_all();

            if (answer.silent)
            {
                held.push_back (fd);
                continue;
            }

            for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds (answer.delayMs);
                 running() && std::chrono::steady_clock::now() < end;)
                std::this_thread::sleep_for (std::chrono::milliseconds (5));

            const auto statusLine = "HTTP/1.1 " + std::to_string (answer.status) + " Canned\r\n";
            const auto head = answer.headersNeverEnd ? statusLine : statusLine +
                              "Content-Type: application/json\r\n"
                              + (answer.endless ? std::string() : "Content-Length: " + std::to_string (answer.body.size()) + "\r\n")
                              + "Connection: close\r\n\r\n";

            if (answer.dripMs <= 0 && ! answer.endless && ! answer.headersNeverEnd)
            {
                sendAll (fd, head + answer.body);
            }
            else if (sendAll (fd, head))
            {
                const auto piece = (size_t) std::max (1, answer.dripBytes);

                for (size_t at = 0; running() && ! answer.body.empty();)
                {
                    if (at >= answer.body.size())
                    {
                        if (! answer.endless && ! answer.headersNeverEnd)
                            break;

                        at = 0;
                    }

                    const auto n = std::min (piece, answer.body.size() - at);

                    if (! sendAll (fd, answer.body.substr (at, n)))
                        break;

                    at += n;
                    std::this_thread::sleep_for (std::chrono::milliseconds (answer.dripMs));
                }
            }

            ::shutdown (fd, SHUT_WR);
            ::close (fd);
        }

        for (auto fd : held)
            ::close (fd);
    }

    const Answer answer;
    const std::chrono::steady_clock::time_point deadline;
    int listenFd = -1;
    int boundPort = 0;
    std::atomic<bool> stop { false };
    std::thread thread;

    mutable std::mutex mutex;
    std::condition_variable requestArrived;
    std::vector<std::string> requests;
};

} // namespace qvntest

#pragma once

#include <QtGlobal>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// Stand-ins for the configuration and file-check daemons that answer the start-up exchange at
// once: plain sockets served by a thread of their own, so that an answer costs a wake-up and a
// write and nothing of an event loop. The configuration daemon answers SUBSCRIBE_TO_CONFIG with
// the front-end's configuration and GET_FCHECK_REQUEST with the file-check socket path; the
// file-check daemon notes when START_SCAN_REQUEST arrives and, if told a task id, accepts it.
class InstantDaemons
{
public:
    using Clock = std::chrono::steady_clock;

    InstantDaemons(const std::string& configdPath, const std::string& fcPath,
                   std::optional<quint32> acceptedTask = std::nullopt);
    ~InstantDaemons();
    InstantDaemons(const InstantDaemons&) = delete;
    InstantDaemons& operator=(const InstantDaemons&) = delete;

    bool isListening() const { return m_configdListener >= 0 && m_fcListener >= 0; }
    // When the next START_SCAN_REQUEST was read whole; nothing if none came in time.
    std::optional<Clock::time_point> waitForScanRequest(std::chrono::milliseconds timeout);
    // The file-check connection that sent the last scan request, open until the client closes it
    // or closeConnections() runs.
    int scanConnection();
    // Drops every client, which ends a runner's run.
    void closeConnections();

private:
    struct Connection
    {
        int fd;
        bool fileCheck;
        std::string pending;
    };
    enum Command : char { CloseAll = 'c', Quit = 'q' };

    void run();
    void accept(int listener, bool fileCheck);
    // False when the client has gone.
    bool serve(Connection& connection);
    void answer(Connection& connection, const std::string& body);
    void drop(size_t index);
    void closeAll();
    void send(Command command);

    int m_configdListener;
    int m_fcListener;
    int m_wake[2] = {-1, -1};
    std::string m_configReply;
    std::string m_fcheckReply;
    std::string m_startReply; // empty: the scan is not answered
    std::vector<Connection> m_connections;

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::optional<Clock::time_point> m_scanRequestAt;
    int m_scanConnection = -1;
    int m_commandsDone = 0;
    std::thread m_thread;
};

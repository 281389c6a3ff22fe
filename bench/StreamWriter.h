#pragma once

#include <atomic>
#include <string>
#include <thread>

// The daemon's end of a notification stream: a thread of its own that writes an opening then the
// same batch of frames over and over, as fast as the reader takes them, so that what a benchmark
// times is the reading side alone. It owns its socket and ends when the reader goes away.
class StreamWriter
{
public:
    StreamWriter(int fd, std::string opening, const std::string& batch);
    ~StreamWriter();
    StreamWriter(const StreamWriter&) = delete;
    StreamWriter& operator=(const StreamWriter&) = delete;

private:
    void run(const std::string& opening, const std::string& batch);

    int m_fd;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

// A second start of a single-instance program hands its start arguments to
// the first over a socket beside the instance lock ("<runtime>/<name>.sock").
// The socket is the user's own (0600 in the private runtime folder) and the
// first instance serves only peers of its own user, checked by their
// credentials. One connection carries one message: the arguments, each ended
// by a NUL. The answer is one byte (0: taken) and, when not taken, a sentence
// that says why.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace port {

class HandOverListener {
public:
    // Called on the listener's thread for each hand-over; returns an empty
    // string once the arguments are taken, else the sentence why not.
    using Receiver = std::function<std::string(const std::vector<std::string>& args)>;

    HandOverListener() = default;
    ~HandOverListener();
    HandOverListener(const HandOverListener&) = delete;
    HandOverListener& operator=(const HandOverListener&) = delete;

    // Listens on the socket of the instance lock `name` and serves on a
    // thread of its own. False (errno set) when the socket cannot be made.
    bool Listen(const std::string& name, Receiver receiver);
    // Ends the thread and removes the socket. Called by the destructor.
    void Stop();

private:
    void Serve();
    void Answer(int fd);

    int m_fd = -1;
    int m_wake[2] = {-1, -1};
    std::string m_path;
    Receiver m_receiver;
    std::thread m_thread;
};

// The socket path of the instance lock `name`.
std::string HandOverSocket(const std::string& name);

// Why a hand-over failed: a number plus the socket it concerns and, when
// the running instance refused, its own answer.
enum class HandOverError {
    None,
    TooLong,     // the arguments do not fit in one message
    Unreachable, // nothing answers on the socket (path)
    NoAnswer,    // the connection ended without an answer
    Refused,     // the running instance did not take them (answer)
};

struct HandOverFault {
    HandOverError error = HandOverError::None;
    std::string path;
    std::string answer;
    bool ok() const { return error == HandOverError::None; }
};

// The fault as one sentence (no capital, no full stop).
std::string Describe(const HandOverFault& fault);

// Sends `args` to the instance holding the lock `name` and waits for its
// answer. None when it took them, else why not. Retries the connection for
// a while, since the first instance may still be starting.
HandOverFault HandOver(const std::string& name, const std::vector<std::string>& args);

} // namespace port

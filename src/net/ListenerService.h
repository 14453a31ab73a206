#pragma once
// A local server on its own thread: binds a loopback port, accepts one
// connection at a time, builds a session for it, runs the conversation to its
// end on the same thread, and accepts the next. A second client waits in the
// listen backlog meanwhile.
//
// Per connection: the window's cancel target is set to the session before it
// runs and cleared before the session is destroyed; the window's pop-up flag is
// read from the settings for each connection; the window is hidden at the end.
// Anything a conversation throws is caught and the loop goes on. Creating the
// listening socket or binding it ends the service quietly; so does a stop.
//
// Threads: the controlling thread (the host's) calls start, stop and the
// destructor; the service thread runs the loop. stop() may come at any moment:
// it reaches the listener and the session in flight only through pointers that
// the service thread publishes and withdraws under mutex_, so neither is ever
// touched after it is gone.

#include "net/CBlockSocket.h"
#include "net/ServiceSettings.h"
#include "net/ServiceThread.h"
#include "net/Session.h"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

namespace quill {

class ServiceWindow;

class ListenerService : public ServiceThread {
public:
    // Builds the session of one accepted connection (the session keeps its
    // own copy). May throw: that connection is then dropped.
    using SessionFactory = std::function<std::unique_ptr<Session>(CBlockSocket connection)>;
    // The port setting read when the thread starts, e.g. &ServiceSettings::pop3Port.
    using PortGetter = int (ServiceSettings::*)() const;

    struct Options {
        // Time-outs of every accepted connection: a silent client is cut off
        // after the receive time-out.
        int receiveTimeoutMs = 120 * 1000;
        int sendTimeoutMs = 120 * 1000;
        // Bounds of each conversation's web-mail client, handed to it by the
        // session factory (the listener does not use them); 0 keeps the
        // client's own.
        struct WebmailBounds {
            // Receive and send time-out of each exchange with the site: a site
            // that stalls longer fails that exchange (120 s).
            int timeoutMs = 0;
            // Listing pages read at most (POP3 only; 10,000).
            int listPages = 0;
            // Bytes a gzip body may inflate to (128 MiB).
            std::size_t inflatedBytes = 0;
            // An exchange with the site fails when it moves fewer than
            // lowSpeedBytesPerSecond (1 KiB) on average over lowSpeedMs (60 s),
            // or after exchangeMs (30 min) however fast it goes.
            std::size_t lowSpeedBytesPerSecond = 0;
            int lowSpeedMs = 0;
            int exchangeMs = 0;
            // Messages a listing keeps at most (1,000,000), and bytes of their
            // ids (64 MiB); the listing ends at the first bound reached.
            std::size_t listMessages = 0;
            std::size_t listIdBytes = 0;
        } webmail;
        // The loopback address to bind.
        std::string address = "127.0.0.1";
    };

    enum class State {
        NotStarted, // or stopped
        Starting,   // thread started, not yet listening
        Listening,
        Ended // could not listen, or the listener failed; the thread has ended
    };

    ListenerService(std::string name, const ServiceSettings& settings, PortGetter port,
                    ServiceWindow& window, SessionFactory factory);
    ListenerService(std::string name, const ServiceSettings& settings, PortGetter port,
                    ServiceWindow& window, SessionFactory factory, Options options);
    // Stops and joins.
    ~ListenerService() override;

    // Runs the loop on a new thread; after stop(), or once the thread has
    // ended by itself, it may be started again and reads the port afresh.
    void start() override;

    // Closes the listener, aborts the conversation in flight and joins the
    // thread. Harmless when not started. Never throws.
    void stop() noexcept;

    const std::string& name() const { return name_; }
    State state() const;
    // Waits until the thread is listening or has ended (or was never started)
    // and returns that state.
    State waitUntilReady() const;
    // The port bound (useful when the setting is 0: any free port); 0 when
    // not listening.
    int boundPort() const;
    // Conversations that have ended since construction.
    std::size_t conversations() const;

protected:
    void run() override;

private:
    void serve(CBlockSocket& connection);
    void setState(State s, int port = 0);

    const std::string name_;
    const ServiceSettings& settings_;
    const PortGetter port_;
    ServiceWindow& window_;
    const SessionFactory factory_;
    const Options options_;

    mutable std::mutex mutex_;
    mutable std::condition_variable stateChanged_;
    // Guarded by mutex_:
    State state_ = State::NotStarted;
    int boundPort_ = 0;
    bool stopping_ = false;
    CBlockSocket* listener_ = nullptr; // the service thread's listening socket
    Session* session_ = nullptr;       // the conversation in flight
    std::size_t conversations_ = 0;
};

} // namespace quill

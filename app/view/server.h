// `vomark view`: the scene in a local web page, served on 127.0.0.1 only (connections.h).
#pragma once
#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include <CLI/CLI.hpp>

#include "api.h"
#include "scene/session.h"

namespace app::view {

struct ViewOptions {
    std::string scene, node;
    // When set, a cache file the scene names in its own folder is read and written here instead,
    // and a file name answered in the page without a folder lands here too.
    std::string out;
    int port = 8137;
    bool open = false;
};

// The `view` verb on the command line; its --plugins option goes into `common`.
Verb AddViewVerb(CLI::App& cli, CommonOptions& common);

// Loads the scene, serves it until SIGINT or SIGTERM, prints the URL as its first line.
// Returns 130 after Ctrl-C, 0 after SIGTERM; throws SceneError for a scene it cannot use.
int Serve(const ViewOptions& options, std::ostream& out);

// One running server: the host thread, the page's dialogs and events, the HTTP listener.
class Server {
  public:
    // Builds the scene on the host thread and opens the panel of the node's recording modifier.
    explicit Server(const ViewOptions& options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Binds 127.0.0.1 (port 0: a free port) and serves on a thread of its own; false when the
    // port cannot be had.
    bool Start(int port);
    int Port() const { return port_; }
    std::string Url() const;
    // Cancels open dialogs, presses Escape for a running recording, stops serving; idempotent.
    void Stop();
    // See Api::SetEvaluationHook; set it before the first request.
    void SetEvaluationHook(std::function<void(TimeValue)> hook);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    int port_ = 0;
};

} // namespace app::view

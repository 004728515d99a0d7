#include "server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "api_fields.h"
#include "connections.h"
#include "scene/host_queries.h"
#include "scene/panel_view.h"
#include "runtime/host_record.h"
#include "scene/scene_description.h"
#include "view_state.h"

extern char** environ;

namespace app::view {

struct Server::Impl {
    HostThread host;
    EventLog events;
    WebInteraction interaction{events};
    BuiltScene built; // made and destroyed on the host thread, with the edit
    std::unique_ptr<EditSession> edit;
    std::unique_ptr<Api> api;
    std::unique_ptr<HttpServer> http;
    std::thread listener;
    bool stopped = false;
};

namespace {
// --out: cache files of the scene's folder move to `out` (the same name below it), so that opening an
// example of the repository and recording writes nothing into the repository.
void MoveCacheFiles(vm::Scene& scene, const std::string& scenePath, const std::string& out) {
    namespace fs = std::filesystem;
    fs::path sceneDir = fs::absolute(scenePath).parent_path().lexically_normal();
    for (INode* node : scene.Nodes())
        for (Modifier* m : StackOf(node)) {
            IParamBlock2* block = nullptr;
            const ParamDef* def = FindParameter(m, kCacheFileParameter, &block);
            const char* file = CacheFileOf(m);
            if (!def || def->type != TYPE_STRING || !file || !*file) continue;
            fs::path inside = fs::path(file).lexically_normal().lexically_relative(sceneDir);
            if (inside.empty() || *inside.begin() == "..") continue;
            block->SetParamValue(def->id, 0,
                                 (fs::absolute(out) / inside).lexically_normal().string().c_str());
        }
}

// The browser is handed a file that sends it on to the address: a command line is seen by every
// local user (ps), the file only by this one (a 0700 folder, a 0600 file). It is removed when the
// server stops; "" when it could not be made.
std::string WriteOpener(const std::string& url) {
    std::string dir = (std::filesystem::temp_directory_path() / "vomark-view-XXXXXX").string();
    if (!mkdtemp(dir.data())) return "";
    std::string path = dir + "/open.html";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    std::string page = "<!doctype html><meta charset=\"utf-8\"><meta http-equiv=\"refresh\" content=\"0; url=" +
                       url + "\"><title>vomark view</title>\n";
    bool written = fd >= 0 && ::write(fd, page.data(), page.size()) == static_cast<ssize_t>(page.size());
    if (fd >= 0) ::close(fd);
    if (!written) {
        ::unlink(path.c_str());
        ::rmdir(dir.c_str());
        return "";
    }
    return path;
}

void RemoveOpener(const std::string& path) {
    if (path.empty()) return;
    ::unlink(path.c_str());
    ::rmdir(std::filesystem::path(path).parent_path().c_str());
}

void OpenBrowser(const std::string& file) {
    pid_t pid = 0;
    std::string program = "xdg-open";
    char* argv[] = {program.data(), const_cast<char*>(file.c_str()), nullptr};
    if (file.empty() || posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0)
        std::cerr << "vomark view: cannot start a browser (xdg-open); open the address by hand\n";
    else
        std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
}

// The library says only that it could not bind; a bind of our own tells why, with what to do.
std::string WhyCannotListen(int port) {
    int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0) return std::strerror(errno);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int err = ::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 0 : errno;
    ::close(sock);
    if (err == EADDRINUSE) return "the port is in use; give another --port, or --port 0 for a free one";
    if (err == EACCES) return "ports below 1024 need privileges; give --port 0 for a free one";
    return err ? std::strerror(err) : "the server could not start";
}
} // namespace

Server::Server(const ViewOptions& o) : impl_(std::make_unique<Impl>()) {
    Target target = impl_->host.Call([&] {
        impl_->built = LoadScene(o.scene);
        Target t;
        t.scene = impl_->built.scene.get();
        t.node = PickNode(*t.scene, o.node);
        if (!o.out.empty()) MoveCacheFiles(*t.scene, o.scene, o.out);
        t.modifier = FindScriptedModifier(t.node, "record");
        vm::Record().macroLines.clear();
        if (t.modifier) {
            // the modifier picked in the stack: its panel opens as the host opens it
            impl_->edit = std::make_unique<EditSession>(*t.scene, t.modifier, std::vector<INode*>{t.node});
            t.panel = impl_->edit->Panel();
        }
        return t;
    });
    if (!o.out.empty()) impl_->interaction.SetFolder(o.out);
    vm::SetInteraction(&impl_->interaction);
    impl_->api = std::make_unique<Api>(impl_->host, impl_->interaction, impl_->events, target, NewToken());
}

Server::~Server() {
    Stop();
    impl_->host.Call([this] {
        impl_->edit.reset();
        impl_->built = BuiltScene();
    });
    impl_->host.Stop();
    vm::SetInteraction(nullptr);
}

bool Server::Start(int port) {
    Api& api = *impl_->api;
    HttpHandlers handlers;
    handlers.admit = [&api](const Request& r) { return api.Admit(r); };
    handlers.fromPage = [&api](const Request& r) { return api.FromPage(r); };
    handlers.handle = [&api](const Request& r) { return api.Handle(r); };
    handlers.cookie = [&api](const Request& r) { return api.SessionCookie(r); };
    impl_->http = std::make_unique<HttpServer>(ConnectionLimits{}, std::move(handlers));
    port = impl_->http->Bind(port);
    if (port <= 0) {
        impl_->http.reset();
        return false;
    }
    port_ = port;
    api.SetPort(port);
    impl_->listener = std::thread([this] { impl_->http->Run(); });
    return true;
}

std::string Server::Url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/?token=" + impl_->api->Token();
}

void Server::SetEvaluationHook(std::function<void(TimeValue)> hook) {
    impl_->api->SetEvaluationHook(std::move(hook));
}

void Server::Stop() {
    if (impl_->stopped) return;
    impl_->stopped = true;
    impl_->interaction.Close();
    impl_->events.Close();
    if (impl_->http) impl_->http->StopAll();
    if (impl_->listener.joinable()) impl_->listener.join();
}

Verb AddViewVerb(CLI::App& cli, CommonOptions& common) {
    auto options = std::make_shared<ViewOptions>();
    CLI::App* verb = cli.add_subcommand("view", "serve the scene as a web page on 127.0.0.1 until Ctrl-C");
    verb->add_option("--plugins", common.plugins, "folder of *.dlm plug-in modules");
    AddSceneArgument(verb, options->scene);
    AddNodeOption(verb, options->node);
    verb->add_option("--port", options->port, "port on 127.0.0.1 (0: a free one)")
        ->check(CLI::Range(0, 65535));
    verb->add_flag("--open", options->open, "open the page in the user's browser");
    verb->add_option("--out", options->out,
                     "folder for the cache files the scene names beside itself, read and recorded there "
                     "(default: beside the scene)")
        ->check(CLI::ExistingDirectory);
    return {verb, [options](Session&) { return Serve(*options, std::cout); }};
}

int Serve(const ViewOptions& options, std::ostream& out) {
    // SIGINT and SIGTERM wait for sigwait below, in this thread only: block them before any thread starts
    sigset_t signals, old;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, &old);
    int sig = 0;
    {
        Server server(options);
        if (!server.Start(options.port)) {
            std::cerr << "vomark view: cannot listen on 127.0.0.1:" << options.port << ": "
                      << WhyCannotListen(options.port) << "\n";
            pthread_sigmask(SIG_SETMASK, &old, nullptr);
            return 1;
        }
        out << server.Url() << std::endl;
        std::string opener = options.open ? WriteOpener(server.Url()) : "";
        if (options.open) OpenBrowser(opener);
        sigwait(&signals, &sig);
        server.Stop();
        RemoveOpener(opener);
    }
    std::cerr
        << "vomark view: stopped; cache files recorded meanwhile stay on disk, the scene is not saved\n";
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    return sig == SIGINT ? 130 : 0;
}

} // namespace app::view

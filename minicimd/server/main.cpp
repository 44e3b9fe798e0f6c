// minicimd: a small CIM server for development and tests.
#include "mof/MofLexer.h"
#include "mof/MofParser.h"
#include "repo/Repository.h"
#include "server/CimHandler.h"
#include "server/HttpServer.h"
#include "server/Indications.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>

using namespace minicimd;

namespace {

int g_stopPipe[2] = {-1, -1};

// Only posts: the main thread does the stopping.
void onSignal(int)
{
    int saved = errno;
    char b = 1;
    ssize_t r = write(g_stopPipe[1], &b, 1);
    (void)r;
    errno = saved;
}

const char kUsage[] =
    "Usage: minicimd [options]\n"
    "A small CIM server: CIM-XML over HTTP (POST /cimom) on a Unix domain socket\n"
    "and/or a loopback TCP port, serving classes and instances loaded from MOF.\n"
    "\n"
    "  --socket PATH       listen on the Unix domain socket PATH (mode 0666,\n"
    "                      removed at exit)\n"
    "  --port N            also listen on 127.0.0.1:N (0: any free port)\n"
    "  --namespace NS      namespace for the --mof options that follow\n"
    "                      (default root/cimv2); may be repeated\n"
    "  --mof PATH          load a MOF file, or a directory (its schema.mof, else\n"
    "                      every *.mof in it); may be repeated\n"
    "  --local-auth        require OpenPegasus \"Local\" authentication\n"
    "  --auth-dir DIR      where challenge files are written (default /tmp)\n"
    "  --allow-user-subscriptions\n"
    "                      let unprivileged users keep filters, listener\n"
    "                      destinations and subscriptions of their own\n"
    "  --allow-model-changes USER\n"
    "                      let USER change instances and invoke methods (root\n"
    "                      and minicimd's own user always may; \"*\" lets everyone,\n"
    "                      unauthenticated TCP clients too); may be repeated\n"
    "  --request-deadline S\n"
    "                      seconds a whole request may take to come (default 60)\n"
    "  --verbose           log every request\n"
    "  --help              show this text\n"
    "\n"
    "Stops cleanly on SIGTERM or SIGINT.  The test schema is minicimd-test.mof;\n"
    "its Test_Methods class has built-in method providers.  root/interop always\n"
    "holds the classes for indication subscriptions (filters, listener\n"
    "destinations, subscriptions); instance changes are delivered to them.\n";

}  // namespace

int main(int argc, char** argv)
{
    ServerConfig cfg;
    std::string ns = "root/cimv2";
    std::vector<std::pair<std::string, std::string>> loads;
    AccessPolicy access;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto need = [&](const char* what) -> std::string {
            if (i + 1 >= argc) {
                fprintf(stderr, "minicimd: %s needs %s\n", a.c_str(), what);
                exit(2);
            }
            return argv[++i];
        };
        // The option's value as a whole number from `lo` to `hi`; exits on anything else.
        auto number = [&](const char* what, long lo, long hi) -> long {
            std::string v = need(what);
            char* end = nullptr;
            long n = strtol(v.c_str(), &end, 10);
            if (v.empty() || *end || n < lo || n > hi) {
                fprintf(stderr, "minicimd: bad %s '%s' (%ld to %ld)\n", a.c_str(), v.c_str(), lo, hi);
                exit(2);
            }
            return n;
        };
        if (a == "--help" || a == "-h") {
            fputs(kUsage, stdout);
            return 0;
        } else if (a == "--socket") {
            cfg.socketPath = need("a path");
        } else if (a == "--port") {
            cfg.port = static_cast<int>(number("a number", 0, 65535));
        } else if (a == "--namespace") {
            ns = need("a namespace");
            loads.push_back({ns, ""});
        } else if (a == "--mof") {
            loads.push_back({ns, need("a file or directory")});
        } else if (a == "--local-auth") {
            cfg.localAuth = true;
        } else if (a == "--auth-dir") {
            cfg.authDir = need("a directory");
        } else if (a == "--allow-user-subscriptions") {
            access.userSubscriptions = true;
        } else if (a == "--allow-model-changes") {
            access.modelUsers.push_back(need("a user name"));
        } else if (a == "--request-deadline") {
            cfg.requestDeadlineSeconds = static_cast<unsigned>(number("seconds", 1, 3600));
        } else if (a == "--verbose") {
            cfg.verbose = true;
        } else {
            fprintf(stderr, "minicimd: unknown option '%s' (see --help)\n", a.c_str());
            return 2;
        }
    }
    if (cfg.socketPath.empty() && cfg.port < 0) {
        fprintf(stderr, "minicimd: give --socket PATH and/or --port N (see --help)\n");
        return 2;
    }

    auto repo = Repository::create();
    try {
        // Subscriptions live in the interop namespace, which always has their classes.
        mof::Compilation interop;
        mof::MofParser::parseText(IndicationService::interopSchema(), "minicimd-interop.mof", interop,
                                  IndicationService::kInteropNamespace);
        repo->loadCompilation(IndicationService::kInteropNamespace, interop);
        for (const auto& l : loads) {
            if (l.second.empty()) {
                repo->addNamespace(l.first);
                continue;
            }
            repo->loadMof(l.first, l.second);
            fprintf(stderr, "minicimd: loaded %s into %s\n", l.second.c_str(), l.first.c_str());
        }
    } catch (const mof::MofError& e) {
        fprintf(stderr, "minicimd: %s\n", e.what());
        return 1;
    } catch (const std::exception& e) {
        fprintf(stderr, "minicimd: %s\n", e.what());
        return 1;
    }
    if (repo->namespaces().size() == 1) repo->addNamespace(ns);

    IndicationService indications(*repo, cfg.verbose);
    CimHandler handler = CimHandler::create(*repo);
    handler.addTestProviders();
    handler.setIndications(&indications);
    handler.setAccess(access);
    indications.start();

    if (pipe2(g_stopPipe, O_CLOEXEC) != 0) {
        perror("minicimd: pipe");
        return 1;
    }
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::string error;
    auto server = HttpServer::start(cfg, handler, error);
    if (!server) {
        fprintf(stderr, "minicimd: %s\n", error.c_str());
        return 1;
    }
    if (!cfg.socketPath.empty()) fprintf(stderr, "minicimd: listening on %s\n", cfg.socketPath.c_str());
    if (server->tcpPort() >= 0) fprintf(stderr, "minicimd: listening on 127.0.0.1:%d\n", server->tcpPort());
    if (cfg.localAuth) fprintf(stderr, "minicimd: Local authentication required\n");

    char b;
    while (read(g_stopPipe[0], &b, 1) < 0 && errno == EINTR) {
    }
    fprintf(stderr, "minicimd: stopping\n");
    server.reset();
    indications.stop();
    fprintf(stderr, "minicimd: stopped\n");
    return 0;
}

// Pages per second fetched from a loopback server: WebRequest on 1 and on 8 threads, next to the
// curl command line tool fetching the same pages in the same run (one process, sequential and
// with 8 transfers in parallel).
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/http_server.h"
#include "web/web_request.h"

namespace {

constexpr int kPages = 2000;

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string page_url(const HttpServer& server, int i) {
    return server.base_url() + "/item.htm?id=" + std::to_string(i);
}

// Returns pages per second; counts pages whose body was not the expected one.
double fetch_with_web_request(const HttpServer& server, int threads, size_t body_size, int& bad) {
    std::atomic<int> next{0}, wrong{0};
    auto start = Clock::now();
    {
        std::vector<std::jthread> pool;
        for (int t = 0; t < threads; ++t)
            pool.emplace_back([&] {
                for (int i = next++; i < kPages; i = next++)
                    if (WebRequest(page_url(server, i)).size() != body_size) ++wrong;
            });
    }
    double elapsed = seconds_since(start);
    bad = wrong;
    return kPages / elapsed;
}

// Returns pages per second, or a negative number when the curl tool failed.
double fetch_with_curl_tool(const HttpServer& server, bool parallel, const std::string& config) {
    {
        std::ofstream out(config, std::ios::trunc);
        for (int i = 0; i < kPages; ++i)
            out << "url = \"" << page_url(server, i) << "\"\noutput = \"/dev/null\"\n";
    }
    std::string command = "curl -s -0 -K " + config;
    if (parallel) command += " --parallel --parallel-max 8";
    command += " 2>/dev/null";  // the parallel mode draws a meter even when silent
    std::fflush(stdout);
    auto start = Clock::now();
    int rc = std::system(command.c_str());
    double elapsed = seconds_since(start);
    return rc == 0 ? kPages / elapsed : -1.0;
}

}  // namespace

int main() {
    HttpServer server;
    if (!server.ok()) {
        std::fprintf(stderr, "could not start the loopback server\n");
        return 1;
    }
    const std::string body(4096, 'x');
    server.set_route("/item.htm", HttpResponse::text(body));
    WebRequest(page_url(server, -1));  // first call sets up the process-wide state

    std::printf("%d pages of %zu bytes from 127.0.0.1\n", kPages, body.size());
    for (int threads : {1, 8}) {
        int bad = 0;
        double rate = fetch_with_web_request(server, threads, body.size(), bad);
        std::printf("WebRequest, %d thread%s: %8.0f pages/s (%d wrong)\n", threads,
                    threads == 1 ? " " : "s", rate, bad);
    }
    const std::string config = "/tmp/zembra-bench-fetch-" + std::to_string(server.port()) + ".cfg";
    for (bool parallel : {false, true}) {
        double rate = fetch_with_curl_tool(server, parallel, config);
        if (rate < 0)
            std::printf("curl tool, %s: failed\n", parallel ? "8 parallel" : "sequential");
        else
            std::printf("curl tool, %s: %8.0f pages/s\n", parallel ? "8 parallel" : "sequential ",
                        rate);
    }
    std::remove(config.c_str());
    return 0;
}

// The project's numbers next to their anchors, in one run on one machine: the review harvest with
// 1, 4 and 8 workers next to the curl tool fetching the same request sequence from the same
// loopback marketplace (--parallel --parallel-max N), with the server keeping connections and with
// "Connection: close"; CPU milliseconds per request for both; the item pattern next to node running
// the same pattern on the same page. Repeats are interleaved and medians printed, because other
// work on the machine comes and goes; the load average is printed before and after.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "harvest/controls.h"
#include "harvest/review_harvest.h"
#include "runtime/gbk.h"
#include "runtime/script_regex.h"
#include "tests/support/marketplace.h"
#include "tests/support/memory_window.h"

namespace {

constexpr int kItems = 200;
constexpr int kPages = 5;
constexpr int kBuyersPerPage = 20;
constexpr int kRounds = 5;  // interleaved repeats; the first argument overrides it

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::string load_average() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

double thread_cpu_ms() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct Sample {
    double seconds = 0;
    double cpu_ms = 0;  // the client's CPU time (user + system)
    size_t requests = 0;
    bool ok = true;
};

// One review harvest; CPU is what the worker threads used (the server runs in this process too).
Sample harvest(Marketplace& market, const std::vector<std::string>& urls, int workers) {
    MemoryWindow window;
    ProgramValues values;
    const HostSettings hosts = Marketplace::hosts();
    ScaledSleeper sleeper(1000);
    HarvestContext ctx{window, values, hosts, sleeper};
    std::vector<std::vector<Text>> rows;
    for (const auto& u : urls)
        rows.push_back({u});
    window.append_rows(controls::kUrlList, rows);
    market.clear_urls();
    market.server().clear_requests();
    values.ReviewRunFlag = 1;
    std::vector<double> cpu(static_cast<size_t>(workers), 0);
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w)
        threads.emplace_back([&ctx, &cpu, w] {
            const double before = thread_cpu_ms();
            review_worker(ctx);
            cpu[static_cast<size_t>(w)] = thread_cpu_ms() - before;
        });
    for (auto& t : threads)
        t.join();
    Sample s;
    s.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (double c : cpu)
        s.cpu_ms += c;
    s.requests = market.request_count();
    s.ok = window.row_count(controls::kBuyerList) == kItems * kPages * kBuyersPerPage;
    return s;
}

// The harvest's requests as a curl config: the same addresses and headers, through the same proxy.
void write_replay(const std::vector<RecordedRequest>& requests, const std::string& proxy,
                  const std::string& path) {
    std::ofstream out(path, std::ios::trunc);
    for (const RecordedRequest& r : requests) {
        if (&r != &requests.front()) out << "next\n";  // between groups only: none may be empty
        out << "url = \"" << r.target << "\"\nproxy = \"" << proxy
            << "\"\noutput = \"/dev/null\"\n";
        for (const auto& [name, value] : r.headers) {
            std::string lower = name;
            for (char& c : lower)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            if (lower == "host" || lower == "proxy-connection" || lower == "connection" ||
                lower == "content-length")
                continue;
            std::string escaped;
            for (char c : name + ": " + value) {
                if (c == '"' || c == '\\') escaped += '\\';
                escaped += c;
            }
            out << "header = \"" << escaped << "\"\n";
        }
    }
}

// Runs a command; its wall time and the CPU time it used.
Sample run_child(const std::string& command) {
    Sample s;
    const auto start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) {
        s.ok = false;
        return s;
    }
    s.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    s.cpu_ms = ms(usage.ru_utime) + ms(usage.ru_stime);
    s.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return s;
}

const std::string kItemPattern =
    R"re("nid":"(\d+)",.*?"detail_url":"(.*?)",.*?"user_id":"(\d+)")re";

// A search result page as bench_item_page builds it: one long JSON line, ~4.5 KB per item.
std::string search_page(int count, bool with_user_id) {
    std::string page =
        "g_page_config = "
        "{\"pageName\":\"mainsrp\",\"mods\":{\"itemlist\":{\"data\":{\"auctions\":[";
    const std::string title = utf8_to_gbk("夏季<span class=H>连衣裙</span>女 2024新款 修身显瘦");
    const std::string place = utf8_to_gbk("浙江 杭州");
    for (int i = 0; i < count; ++i) {
        const std::string nid = std::to_string(520000000000LL + i * 7919);
        page += i ? ",{" : "{";
        page += "\"p4pTags\":[],\"nid\":\"" + nid + "\",\"title\":\"" + title + "\",";
        page += "\"detail_url\":\"\\/\\/item.taobao.com\\/item.htm?id\\u003d" + nid + "\",";
        page += "\"item_loc\":\"" + place + "\",";
        if (with_user_id) page += "\"user_id\":\"" + std::to_string(1700000000 + i * 31) + "\",";
        page += "\"icon\":[";
        for (int k = 0; k < 16; ++k)
            page += std::string(k ? "," : "") +
                    "{\"title\":\"icon\",\"dom_class\":\"icon-service-fuwu\",\"position\":\"1\","
                    "\"show_type\":\"0\",\"icon_category\":\"baobei\",\"outer_text\":\"0\","
                    "\"html\":\"\",\"icon_key\":\"icon-service-fuwu\",\"trace\":\"srpservice\","
                    "\"traceIdx\":" +
                    std::to_string(k) + ",\"innerText\":\"\",\"url\":\"\"}";
        page += "],\"risk\":\"\"}";
    }
    return page + "]}}}};\n";
}

// The harvest's loop over one page: execute, then read every match's groups. Microseconds of
// wall time; cpu_us gets the median of the thread's CPU time, which preemption does not inflate.
double our_pattern_us(ScriptRegex& re, const std::string& page, int repeats, int& matches,
                      double& cpu_us) {
    std::vector<double> times, cpu;
    for (int r = 0; r < repeats; ++r) {
        const double cpu_start = thread_cpu_ms();
        const auto start = Clock::now();
        re.execute(kItemPattern, page);
        matches = re.match_count();
        for (int m = 1; m <= matches; ++m) {
            (void)re.submatch_text(m, 1);
            (void)re.submatch_text(m, 2);
            (void)re.submatch_text(m, 3);
        }
        times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        cpu.push_back((thread_cpu_ms() - cpu_start) * 1000);
    }
    cpu_us = median(cpu);
    return median(times);
}

// node running the same pattern (flags g, i, m as the harvest's) over the same page in UTF-8;
// the median of its own repeats in microseconds, or -1 when node is missing or failed.
double node_pattern_us(const std::string& page_file, const std::string& script, int repeats,
                       int& matches, double& cpu_us) {
    const std::string out = script + ".out";
    const std::string command = "node " + script + " " + page_file + " " + std::to_string(repeats) +
                                " > " + out + " 2>/dev/null";
    if (!run_child(command).ok) return -1;
    std::ifstream in(out);
    double us = -1;
    in >> matches >> us >> cpu_us;
    std::remove(out.c_str());
    return us;
}

const char* const kNodeScript = R"js(
const fs = require('fs');
const page = fs.readFileSync(process.argv[2], 'utf8');
const repeats = Number(process.argv[3]);
const re = /"nid":"(\d+)",.*?"detail_url":"(.*?)",.*?"user_id":"(\d+)"/gim;
let n = 0;
const times = [];
const cpu = [];
for (let r = 0; r < repeats; r++) {
  const cpuStart = process.cpuUsage();
  const start = process.hrtime.bigint();
  re.lastIndex = 0;
  n = 0;
  let m;
  while ((m = re.exec(page)) !== null) { n++; void m[1]; void m[2]; void m[3]; }
  times.push(Number(process.hrtime.bigint() - start) / 1000);
  const used = process.cpuUsage(cpuStart);
  cpu.push(used.user + used.system);
}
times.sort((a, b) => a - b);
cpu.sort((a, b) => a - b);
console.log(n, times[times.length >> 1], cpu[cpu.length >> 1]);
)js";

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : kRounds;
    const unsigned cores = std::thread::hardware_concurrency();
    std::printf("load average before: %s (%u cores)\n", load_average().c_str(), cores);

    // --- The item pattern next to node ---
    const std::string page = search_page(44, true);
    std::string broken;
    while (broken.size() < 2 * 1024 * 1024)
        broken += search_page(44, false);
    const std::string dir = "/tmp/zembra-bench-" + std::to_string(getpid());
    const std::string page_file = dir + "-page.txt";
    const std::string script = dir + "-pattern.js";
    std::ofstream(page_file) << gbk_to_utf8(page);
    std::ofstream(script) << kNodeScript;
    std::vector<double> ours, node, ours_broken, re2_only, ours_cpu, node_cpu, broken_cpu;
    int our_matches = 0, node_matches = 0, broken_matches = -1;
    const auto item = script_pattern_compile(kItemPattern, ScriptRegexOptions{});
    const auto page_text = std::make_shared<const Text>(page);
    for (int r = 0; r < rounds; ++r) {
        ScriptRegex re;
        double cpu = 0;
        ours.push_back(our_pattern_us(re, page, 200, our_matches, cpu));
        ours_cpu.push_back(cpu);
        node.push_back(node_pattern_us(page_file, script, 200, node_matches, cpu));
        node_cpu.push_back(cpu);
        ScriptRegex fresh;
        ours_broken.push_back(our_pattern_us(fresh, broken, 9, broken_matches, cpu));
        broken_cpu.push_back(cpu);
        std::vector<double> linear;
        for (int k = 0; k < 20; ++k) {
            const auto start = Clock::now();
            script_pattern_match(*item, page_text, ScriptMatchRoute::linear_only);
            linear.push_back(
                std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        re2_only.push_back(median(linear));
    }
    std::remove(page_file.c_str());
    std::remove(script.c_str());
    std::printf("\nitem pattern, medians of %d interleaved rounds (microseconds per page)\n",
                rounds);
    std::printf("  %-40s %9s %9s %7s | %9s %9s %7s\n", "", "program", "node", "ratio", "prog CPU",
                "node CPU", "ratio");
    auto ratio = [](double a, double b) { return b > 0 ? a / b : 0.0; };
    std::printf("  %-40s %9.0f %9.0f %7.2f | %9.0f %9.0f %7.2f   (%d / %d matches)\n",
                ("normal page, " + std::to_string(page.size() / 1024) + " KB").c_str(),
                median(ours), median(node), ratio(median(ours), median(node)), median(ours_cpu),
                median(node_cpu), ratio(median(ours_cpu), median(node_cpu)), our_matches,
                node_matches);
    std::printf(
        "  %-40s %9.0f %9s %7s | %9.0f %9s %7s   (%d matches; node does not finish)\n",
        ("broken page, " + std::to_string(broken.size() / 1024) + " KB, no user_id").c_str(),
        median(ours_broken), "-", "", median(broken_cpu), "-", "", broken_matches);
    std::printf("  %-40s %9.0f\n", "normal page, RE2 alone (the fallback)", median(re2_only));

    // --- The review harvest next to curl ---
    Marketplace market;
    if (!market.ok()) {
        std::fprintf(stderr, "cannot start the loopback marketplace\n");
        return 1;
    }
    ProxyEnvironment proxy(market);
    const std::vector<std::string> urls =
        add_review_items(market, kItems, kPages, kBuyersPerPage, [](int k, int p, int b) {
            return std::to_string(700000 + k) + "x" + std::to_string(p * kBuyersPerPage + b);
        });
    const std::string replay = dir + "-replay.cfg";
    struct Cell {
        std::vector<double> program_rate, curl_rate, program_cpu, curl_cpu;
        size_t requests = 0;
        bool ok = true;
    };
    std::map<std::pair<bool, int>, Cell> cells;
    int program_short = 0, curl_failed = 0;
    const int worker_counts[] = {1, 4, 8};
    for (int r = 0; r < rounds; ++r) {
        for (bool keep : {true, false}) {
            market.server().set_keep_alive(keep);
            for (int workers : worker_counts) {
                Cell& cell = cells[{keep, workers}];
                const Sample ours_run = harvest(market, urls, workers);
                write_replay(market.server().requests(), market.proxy_url(), replay);
                const Sample curl_run =
                    run_child("curl -s --parallel --parallel-max " + std::to_string(workers) +
                              " -K " + replay + " 2>" + replay + ".err");
                const double n = static_cast<double>(ours_run.requests);
                cell.requests = ours_run.requests;
                cell.ok = cell.ok && ours_run.ok && curl_run.ok;
                program_short += ours_run.ok ? 0 : 1;
                if (!curl_run.ok && curl_failed++ == 0) {
                    std::ifstream err(replay + ".err");
                    std::string line, last;
                    while (std::getline(err, line, '\r'))
                        if (line.find("curl:") != std::string::npos) last = line;
                    std::printf("  first curl failure: %s\n", last.c_str());
                }
                cell.program_rate.push_back(n / ours_run.seconds);
                cell.curl_rate.push_back(n / curl_run.seconds);
                cell.program_cpu.push_back(ours_run.cpu_ms / n);
                cell.curl_cpu.push_back(curl_run.cpu_ms / n);
            }
        }
    }
    std::remove(replay.c_str());
    std::remove((replay + ".err").c_str());
    std::printf(
        "\nreview harvest, %d items x %d review pages, loopback marketplace as proxy; medians of "
        "%d "
        "interleaved rounds\n",
        kItems, kPages, rounds);
    std::printf("  %-12s %7s %8s | %10s %10s %6s | %12s %12s %6s\n", "server", "workers",
                "requests", "program/s", "curl/s", "ratio", "program ms", "curl ms", "ratio");
    for (bool keep : {true, false})
        for (int workers : worker_counts) {
            const Cell& c = cells[{keep, workers}];
            const double pr = median(c.program_rate), cr = median(c.curl_rate);
            const double pc = median(c.program_cpu), cc = median(c.curl_cpu);
            std::printf("  %-12s %7d %8zu | %10.0f %10.0f %6.2f | %12.3f %12.3f %6.2f%s\n",
                        keep ? "keep-alive" : "close", workers, c.requests, pr, cr,
                        cr > 0 ? pr / cr : 0, pc, cc, cc > 0 ? pc / cc : 0,
                        c.ok ? "" : "  (a run failed)");
        }
    std::printf(
        "  (requests per second; CPU milliseconds per request: the program's worker threads,\n"
        "   which also parse every page, against the whole curl process)\n");
    if (program_short || curl_failed)
        std::printf(
            "  runs that failed: %d of the program's (rows missing), %d of curl's (exit status)\n",
            program_short, curl_failed);
    std::printf("\nload average after: %s\n", load_average().c_str());
    return 0;
}

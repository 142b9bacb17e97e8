// Reads and writes a large topology document: 20,000 nodes and 1,000,000
// edges (about 270 MB of pretty-printed JSON).

#include <sys/wait.h>
#include <unistd.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <random>
#include <string>

#include "core/store/atomic_file.hpp"
#include "core/store/topology_store.hpp"

using namespace vorn;

namespace {

constexpr std::size_t kNodes = 20'000;
constexpr std::size_t kEdges = 1'000'000;

// CPU time of this process (user + system), so that other load on a shared
// machine does not distort the figures.
double cpu_seconds() {
    timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A bare pass of the JSON library's event parser over the same bytes, as a
// baseline for the record-building reader.
struct NullSax {
    bool null() { return true; }
    bool boolean(bool) { return true; }
    bool number_integer(std::int64_t) { return true; }
    bool number_unsigned(std::uint64_t) { return true; }
    bool number_float(double, const std::string&) { return true; }
    bool string(std::string&) { return true; }
    bool binary(nlohmann::json::binary_t&) { return true; }
    bool start_object(std::size_t) { return true; }
    bool key(std::string&) { return true; }
    bool end_object() { return true; }
    bool start_array(std::size_t) { return true; }
    bool end_array() { return true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::json::exception&) {
        return false;
    }
};

// Resident-set figures from /proc/self/status, in kB.
long status_kb(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr)
        return -1;
    char line[256];
    long value = -1;
    std::size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') {
            value = std::atol(line + n + 1);
            break;
        }
    }
    std::fclose(f);
    return value;
}

TopologyFile generate() {
    std::mt19937_64 rng(42);
    auto fresh_id = [&] {
        std::array<std::uint8_t, 16> raw;
        for (std::size_t i = 0; i < 16; i += 8) {
            std::uint64_t r = rng();
            std::memcpy(raw.data() + i, &r, 8);
        }
        return Uuid::v4_from_bytes(raw);
    };
    TopologyFile t = TopologyFile::new_empty("lif", {{"lif", {}}, {"stdp", {}}});
    t.nodes.reserve(kNodes);
    for (std::size_t i = 0; i < kNodes; ++i) {
        TopologyNode n;
        n.id = fresh_id();
        n.label = std::to_string(i);
        n.label.insert(0, 1, 'n');
        t.nodes.push_back(std::move(n));
    }
    std::uniform_real_distribution<float> weight(0.0f, 1.0f);
    t.edges.reserve(kEdges);
    for (std::size_t i = 0; i < kEdges; ++i) {
        // Distinct (pre, post) pairs: offsets 1..50 from each node.
        std::size_t pre = i % kNodes;
        std::size_t post = (pre + 1 + i / kNodes) % kNodes;
        TopologyEdge e;
        e.id = fresh_id();
        e.pre = t.nodes[pre].id;
        e.post = t.nodes[post].id;
        e.init_weight = weight(rng);
        e.delay_ms = 1.0f + static_cast<float>(i % 8) * 0.25f;
        t.edges.push_back(std::move(e));
    }
    return t;
}

// Bytes held by the records: the arrays plus any heap text of labels.
double records_mb(const TopologyFile& t) {
    std::size_t bytes =
        t.nodes.capacity() * sizeof(TopologyNode) + t.edges.capacity() * sizeof(TopologyEdge);
    for (const TopologyNode& n : t.nodes) {
        if (n.label.capacity() > 15)
            bytes += n.label.capacity() + 1;
    }
    return static_cast<double>(bytes) / 1e6;
}

}  // namespace

int main() {
    std::string dir = (std::filesystem::temp_directory_path() /
                       ("vorn_bench_topology_" + std::to_string(getpid())))
                          .string();
    std::filesystem::create_directories(dir);

    double size_mb = 0.0;
    {
        TopologyFile t = generate();
        double t0 = cpu_seconds();
        auto bytes = serialize_topology(t);
        double serialise_s = cpu_seconds() - t0;
        if (!bytes) {
            std::fprintf(stderr, "serialise failed: %s\n", bytes.error().message().c_str());
            return 1;
        }
        size_mb = static_cast<double>(bytes->size()) / 1e6;
        t0 = cpu_seconds();
        auto written = atomic_write(dir + "/topology.json", *bytes);
        double file_s = cpu_seconds() - t0;
        if (!written) {
            std::fprintf(stderr, "write failed: %s\n", written.error().message().c_str());
            return 1;
        }
        std::printf("topology_file_mb=%.1f\n", size_mb);
        std::printf("topology_write_mb_s=%.0f\n", size_mb / serialise_s);
        std::printf("topology_write_with_fsync_mb_s=%.0f\n", size_mb / (serialise_s + file_s));
        NullSax sax;
        t0 = cpu_seconds();
        bool ok = nlohmann::json::sax_parse(bytes->begin(), bytes->end(), &sax);
        double bare_s = cpu_seconds() - t0;
        if (ok)
            std::printf("topology_bare_sax_mb_s=%.0f\n", size_mb / bare_s);
    }

    // Read in a child so that its peak resident set reflects this read alone.
    int fds[2];
    if (pipe(fds) != 0)
        return 1;
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        long before_kb = status_kb("VmRSS");
        double t0 = cpu_seconds();
        auto t = read_topology(dir);
        double read_s = cpu_seconds() - t0;
        long peak_kb = status_kb("VmHWM");
        char out[256];
        int n = t ? std::snprintf(out, sizeof out, "%f %f %f\n", read_s,
                                  static_cast<double>(peak_kb - before_kb) / 1024.0, records_mb(*t))
                  : std::snprintf(out, sizeof out, "error %s\n", t.error().message().c_str());
        if (write(fds[1], out, static_cast<std::size_t>(n)) != n)
            _exit(1);
        _exit(t ? 0 : 1);
    }
    close(fds[1]);
    char in[256] = {};
    ssize_t got = read(fds[0], in, sizeof in - 1);
    int status = 0;
    waitpid(pid, &status, 0);
    std::filesystem::remove_all(dir);
    double read_s = 0, peak_mb = 0, rec_mb = 0;
    if (got <= 0 || std::sscanf(in, "%lf %lf %lf", &read_s, &peak_mb, &rec_mb) != 3) {
        std::fprintf(stderr, "read failed: %s", in);
        return 1;
    }
    std::printf("topology_read_mb_s=%.0f\n", size_mb / read_s);
    std::printf("topology_read_peak_mb=%.0f\n", peak_mb);
    std::printf("topology_records_mb=%.0f\n", rec_mb);
    return 0;
}

// The data path's benchmarks, each printed beside the reference it is held
// against:
//   sign    request signing with a cached key (Google Benchmark) against
//           botocore's signer on the same inputs;
//   direct  EBS direct reads through the plug-in's client from 1-16 threads
//           against a plain libcurl reader and a threaded boto3 reader of the
//           same snapshot over the same loopback TLS endpoint, with the
//           endpoint's own CPU ceiling;
//   hotadd  the host data mover's device copy against a plain sequential read;
//   restore the host data mover's restore write of a sparse image onto a
//           device file against a plain sequential write of the same bytes;
//   tokens  the block token memory of an open snapshot: per block, and for a
//           fully allocated 16 TiB snapshot read by 8 threads (a synthetic
//           listing), held whole against held in windows;
//   cloud   time per bridge call against a folder cloud holding 1,000 and
//           1,000,000 allocated blocks in one volume (CloudCallBench.cpp).
// Usage: datapath-bench [all|sign|direct|hotadd|restore|tokens|cloud] [--quick]
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include "bench/CloudCallBench.h"
#include "bridge/AmazonSDKBridge.h"
#include "cloudsim/BlockToken.h"
#include "cloudsim/Cloud.h"
#include "cloudsim/endpoints/EndpointServer.h"
#include "cloudsim/endpoints/TestCertificates.h"
#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"
#include "aws/AmazonRequestSigner.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDLibCurl.h"
#include "framework/KDPI.h"
#include "framework/KDPlatformInfo.h"
#include "host/DataMover.h"
#include "host/RestoreWriter.h"

using namespace AmazonDirectSnapshotAccessAPI;

namespace {

constexpr int64_t kBlock = 512 * 1024;
// One window over every block index the service model allows: the tokens
// held whole, as the client kept them before it held windows.
constexpr int64_t kWholeListingBlocks = 1LL << 31;
constexpr double kMiB = 1024.0 * 1024.0;
constexpr const char* kRegion = "us-east-1";
constexpr const char* kHost = "ebs.us-east-1.amazonaws.com";
// The demo seed's source account.
constexpr const char* kAccessKey = "AKIADEMOSOURCE000001";
constexpr const char* kSecretKey = "demo-source-secret";
constexpr const char* kAccount = "111122223333";
constexpr const char* kSnapshot = "snap-0be4c40000000001";
bool g_quick = false;

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double CpuSeconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

std::string ReadAll(const std::string& path) {
    std::string text;
    if (!FwFile::ReadAll(path, text)) throw std::runtime_error("cannot read " + path);
    return text;
}

// Runs a command and returns what it printed.
std::string Capture(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

// A throwaway agent base folder with the real clock, removed at the end.
class BenchBase {
public:
    BenchBase() {
        char tmpl[] = "/tmp/datapath-bench-XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
        m_dir = tmpl;
        KDPI_Base::setBaseDir(m_dir);
        EvDebug::Reload();
    }
    ~BenchBase() {
        if (!std::getenv("KEEP_BENCH_BASE")) FwFile::RemoveTree(m_dir);
    }
    const std::string& Dir() const { return m_dir; }

private:
    std::string m_dir;
};

// ---------------------------------------------------------------- signing

// The query a GetSnapshotBlock carries, encoded as the connection encodes it.
std::vector<HttpQueryParameter> BlockQuery(const std::string& snapshot, int64_t index) {
    return {{"blockToken", KDLibCurl::UrlEncode(cloudsim::BlockToken(snapshot, index))},
            {"Action", "GetSnapshotBlock"},
            {"Version", "2020-05-11"}};
}

std::string BlockPath(const std::string& snapshot, int64_t index) {
    return "/snapshots/" + snapshot + "/blocks/" + std::to_string(index);
}

constexpr int64_t kSignEpoch = 1767225600;   // 2026-01-01T00:00:00Z
constexpr int64_t kSignIndex = 7;

void BM_FormHttpHeaders(benchmark::State& state) {
    CAmazonRequestSigner signer;
    const AWSCredentials credentials{kAccessKey, kSecretKey, "", 0};
    const AWSRequestTime time = CAmazonRequestSigner::formRequestTime(kSignEpoch);
    const CAmazonRequestSigner::Request request{"GET", BlockPath(kSnapshot, kSignIndex),
                                                BlockQuery(kSnapshot, kSignIndex), {}, ""};
    if (signer.formHttpHeaders(request, kHost, time, kRegion, "ebs", credentials).empty())
        state.SkipWithError("signing failed");
    for (auto _ : state) {
        auto headers = signer.formHttpHeaders(request, kHost, time, kRegion, "ebs", credentials);
        benchmark::DoNotOptimize(headers);
    }
    state.counters["key_derivations"] = static_cast<double>(signer.signatureKeyDerivations());
}
BENCHMARK(BM_FormHttpHeaders);

void BM_AuthorizationHeaderValue(benchmark::State& state) {
    CAmazonRequestSigner signer;
    const AWSCredentials credentials{kAccessKey, kSecretKey, "", 0};
    const AWSRequestTime time = CAmazonRequestSigner::formRequestTime(kSignEpoch);
    const CAmazonRequestSigner::Request request{"GET", BlockPath(kSnapshot, kSignIndex),
                                                BlockQuery(kSnapshot, kSignIndex),
                                                {{"accept", "application/json"},
                                                 {"host", kHost},
                                                 {"x-amz-date", time.requestDateTime}},
                                                ""};
    for (auto _ : state) {
        auto value = signer.getAuthorizationHeaderValue(request, time, kRegion, "ebs", credentials);
        benchmark::DoNotOptimize(value);
    }
    state.counters["key_derivations"] = static_cast<double>(signer.signatureKeyDerivations());
}
BENCHMARK(BM_AuthorizationHeaderValue);

// Keeps the mean real time of each benchmark while the console prints.
class KeepingReporter : public benchmark::ConsoleReporter {
public:
    KeepingReporter() : ConsoleReporter(OO_Tabular) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.iterations > 0) nanoseconds[run.benchmark_name()] = run.real_accumulated_time * 1e9 / run.iterations;
    }
    std::map<std::string, double> nanoseconds;
};

void RunSign(int argc, char** argv) {
    std::printf("== Signing one GetSnapshotBlock (cached signing key) ==\n");
    std::vector<char*> args{argv[0]};
    for (int i = 0; i < argc; ++i)
        if (std::strncmp(argv[i], "--benchmark", 11) == 0) args.push_back(argv[i]);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    KeepingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double pluginUs = reporter.nanoseconds["BM_FormHttpHeaders"] / 1000.0;

    const std::string out = Capture("python3 " BENCH_SOURCE_DIR "/botocore_sign.py " + std::string(kAccessKey) + " " +
                                    kSecretKey + " " + kRegion + " " + kSnapshot + " " + std::to_string(kSignIndex) +
                                    " '" + cloudsim::BlockToken(kSnapshot, kSignIndex) + "' " +
                                    std::to_string(kSignEpoch) + (g_quick ? " 2000" : " 20000"));
    double botoUs = 0;
    std::printf("plug-in signer (formHttpHeaders): %.2f us per request  [target < 5 us: %s]\n", pluginUs,
                pluginUs < 5.0 ? "met" : "MISSED");
    if (std::sscanf(out.c_str(), "%lf", &botoUs) == 1 && botoUs > 0)
        std::printf("botocore SigV4Auth.add_auth:      %.2f us per request  (plug-in is %.1fx faster)\n", botoUs,
                    botoUs / pluginUs);
    else
        std::printf("botocore: not measured (python3 with botocore missing?)\n");
}

// ---------------------------------------------------------------- direct reads

struct PassResult {
    double mibPerSecond = 0;
    double clientCpuUsPerBlock = 0;   // CPU of the reading threads
    double otherCpuUsPerBlock = 0;    // the rest of the process: the endpoint server
    bool ok = true;
};

// Reads blocks [0, count) from threads; each thread takes the next block
// until none is left. read(thread state, block, buffer) says whether it worked.
PassResult ReadPass(int threads, int64_t count,
                    const std::function<std::function<bool(int64_t, unsigned char*)>()>& makeReader) {
    std::atomic<int64_t> next{0};
    std::atomic<bool> ok{true};
    std::atomic<long long> clientNs{0};
    const double processBefore = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([&] {
            const double cpuBefore = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            std::vector<unsigned char> buffer(kBlock);
            auto read = makeReader();
            for (int64_t i = next++; i < count && ok; i = next++)
                if (!read(i, buffer.data())) ok = false;
            clientNs += static_cast<long long>((CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuBefore) * 1e9);
        });
    for (auto& t : pool) t.join();
    const double wall = Seconds(start);
    const double processCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processBefore;
    PassResult r;
    r.ok = ok;
    r.mibPerSecond = static_cast<double>(count) * kBlock / kMiB / wall;
    r.clientCpuUsPerBlock = static_cast<double>(clientNs) / 1e3 / static_cast<double>(count);
    r.otherCpuUsPerBlock = (processCpu * 1e6 - static_cast<double>(clientNs) / 1e3) / static_cast<double>(count);
    return r;
}

size_t CurlToBuffer(char* data, size_t size, size_t count, void* userdata) {
    auto* sink = static_cast<std::pair<unsigned char*, size_t>*>(userdata);
    const size_t n = size * count;
    if (sink->second + n > static_cast<size_t>(kBlock)) return 0;
    std::memcpy(sink->first + sink->second, data, n);
    sink->second += n;
    return n;
}

// The endpoint's HTTP library listens with a queue of 5: when many readers
// (re)connect at once (the server closes a connection after 100 requests)
// the kernel drops their SYNs and each retries only after a second, which
// would measure TCP's retransmit timer, not the data path. Linux lets a
// listening socket be given a longer queue by calling listen() again.
bool WidenListenQueue(int port) {
    for (int fd = 0; fd < 4096; ++fd) {
        int listening = 0;
        socklen_t length = sizeof listening;
        sockaddr_in address{};
        socklen_t addressLength = sizeof address;
        if (getsockopt(fd, SOL_SOCKET, SO_ACCEPTCONN, &listening, &length) != 0 || !listening) continue;
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &addressLength) != 0) continue;
        if (address.sin_family == AF_INET && ntohs(address.sin_port) == port) return listen(fd, SOMAXCONN) == 0;
    }
    return false;
}

// More than the most readers, so that no reader waits for a server thread
// that an idle keep-alive connection holds.
constexpr int kServerThreads = 32;

class DirectRig {
public:
    explicit DirectRig(int64_t blocks) : m_blocks(blocks) {
        nlohmann::json seed = nlohmann::json::parse(ReadAll(AMAZON_DEMO_SEED));
        nlohmann::json list = nlohmann::json::array();
        for (int64_t i = 0; i < blocks; ++i) list.push_back(i);
        seed["snapshots"].push_back({{"id", kSnapshot}, {"account", kAccount}, {"region", kRegion},
                                     {"sizeBytes", blocks * kBlock}, {"state", "completed"},
                                     {"data", {{"text", "benchmark data"}, {"blocks", list}}}});
        m_cloud = cloudsim::Cloud::InMemory(seed.dump());
        cloudsim::Cloud::SetProcessCloud(m_cloud);
        const std::string certFolder = m_base.Dir() + "/certs";
        mkdir(certFolder.c_str(), 0700);
        m_certs = cloudsim::endpoints::WriteTestCertificates(
            certFolder, cloudsim::endpoints::EndpointDnsNames({kRegion}), cloudsim::endpoints::EndpointIpAddresses());
        m_server = std::make_unique<cloudsim::endpoints::EndpointServer>(
            m_cloud, cloudsim::endpoints::EndpointOptions{m_certs.certFile, m_certs.keyFile, {}, false, kServerThreads});
        if (!FwFile::WriteAllAtomic(FwFile::JoinPath(m_base.Dir(), "curl-ca-bundle.crt"), ReadAll(m_certs.caFile)))
            throw std::runtime_error("cannot install the CA bundle");
        if (!WidenListenQueue(m_server->EbsPort())) std::printf("(could not widen the endpoint's listen queue)\n");
        m_connectTo = std::string(kHost) + ":443:127.0.0.1:" + std::to_string(m_server->EbsPort());
        KDPlatformInfo::setValue("Base", "sCurlConnectTo",
                                 m_connectTo + ",169.254.169.254:80:127.0.0.1:" +
                                     std::to_string(m_server->MetadataPort()));
        if (!m_bridge.initialize("Amazon", "VSA", 42) || !m_bridge.Connect(kRegion, kAccessKey, kSecretKey))
            throw std::runtime_error("bridge cannot connect: " + m_bridge.GetLastErrorString());
    }
    ~DirectRig() { cloudsim::Cloud::SetProcessCloud(nullptr); }

    PassResult Plugin(int threads, bool checksum, TokenWindowShape tokens = TokenWindowShape{}) {
        KDPlatformInfo::setValue("VirtualServer", "bAmazonValidateDirectReadChecksum", checksum ? "true" : "false");
        CAmazonDirectSnapshotAccessAPIWrapper client(CAmazonDirectSnapshotAccessAPIWrapper::kMaxConnections, tokens);
        if (!client.Initialize(kAccessKey, kSecretKey, &m_bridge) || !client.FillSnapshotAccessInfo(kSnapshot, kRegion))
            throw std::runtime_error("the direct client cannot open the snapshot");
        return ReadPass(threads, m_blocks, [&client] {
            return [&client](int64_t index, unsigned char* buffer) {
                return client.ReadFromSnapshot(kSnapshot, kRegion, index * kBlock, kBlock, buffer);
            };
        });
    }

    // Requests signed before the clock starts, sent by bare libcurl handles
    // (one per thread, kept alive) that only copy the body out.
    PassResult PlainCurl(int threads) {
        struct Signed {
            std::string url;
            std::vector<std::string> headers;
        };
        std::vector<Signed> requests(static_cast<size_t>(m_blocks));
        CAmazonRequestSigner signer;
        const AWSCredentials credentials{kAccessKey, kSecretKey, "", 0};
        const AWSRequestTime time = CAmazonRequestSigner::formRequestTime(FwClock::NowSec());
        for (int64_t i = 0; i < m_blocks; ++i) {
            CAmazonRequestSigner::Request request{"GET", BlockPath(kSnapshot, i), BlockQuery(kSnapshot, i), {}, ""};
            Signed& s = requests[static_cast<size_t>(i)];
            s.url = std::string("https://") + kHost + request.path + "?" +
                    CAmazonRequestSigner::formQueryString(request.query);
            for (const auto& h : signer.formHttpHeaders(request, kHost, time, kRegion, "ebs", credentials))
                s.headers.push_back(h.name + ": " + h.value);
        }
        const std::string ca = m_certs.caFile;
        const std::string connectTo = m_connectTo;
        return ReadPass(threads, m_blocks, [&requests, ca, connectTo] {
            struct Handle {
                CURL* curl = curl_easy_init();
                curl_slist* route = nullptr;
                ~Handle() {
                    curl_easy_cleanup(curl);
                    curl_slist_free_all(route);
                }
            };
            auto handle = std::make_shared<Handle>();
            handle->route = curl_slist_append(nullptr, connectTo.c_str());
            curl_easy_setopt(handle->curl, CURLOPT_CONNECT_TO, handle->route);
            curl_easy_setopt(handle->curl, CURLOPT_CAINFO, ca.c_str());
            curl_easy_setopt(handle->curl, CURLOPT_WRITEFUNCTION, CurlToBuffer);
            curl_easy_setopt(handle->curl, CURLOPT_NOSIGNAL, 1L);
            return [handle, &requests](int64_t index, unsigned char* buffer) {
                const Signed& s = requests[static_cast<size_t>(index)];
                curl_slist* headers = nullptr;
                for (const auto& h : s.headers) headers = curl_slist_append(headers, h.c_str());
                std::pair<unsigned char*, size_t> sink{buffer, 0};
                curl_easy_setopt(handle->curl, CURLOPT_URL, s.url.c_str());
                curl_easy_setopt(handle->curl, CURLOPT_HTTPHEADER, headers);
                curl_easy_setopt(handle->curl, CURLOPT_WRITEDATA, &sink);
                const CURLcode code = curl_easy_perform(handle->curl);
                long status = 0;
                curl_easy_getinfo(handle->curl, CURLINFO_RESPONSE_CODE, &status);
                curl_easy_setopt(handle->curl, CURLOPT_HTTPHEADER, nullptr);
                curl_slist_free_all(headers);
                return code == CURLE_OK && status == 200 && sink.second == static_cast<size_t>(kBlock);
            };
        });
    }

    // boto3 talks to the loopback address itself (its Host header is then
    // 127.0.0.1:port, which it signs); MiB/s, or 0 when it could not run.
    double Boto3(int threads) {
        const std::string out = Capture(
            "python3 " BENCH_SOURCE_DIR "/boto3_reader.py https://127.0.0.1:" + std::to_string(m_server->EbsPort()) +
            " " + m_certs.caFile + " " + kAccessKey + " " + kSecretKey + " " + kRegion + " " + kSnapshot + " " +
            std::to_string(threads) + " 2>&1");
        double mib = 0;
        if (std::sscanf(out.c_str(), "%lf", &mib) != 1) {
            std::printf("boto3 reader failed: %s\n", out.c_str());
            return 0;
        }
        std::printf("boto3 reader, %d threads: %s", threads, out.c_str());
        return mib;
    }

    int64_t Blocks() const { return m_blocks; }

private:
    BenchBase m_base;
    int64_t m_blocks;
    std::shared_ptr<cloudsim::Cloud> m_cloud;
    cloudsim::endpoints::CertificateFiles m_certs;
    std::unique_ptr<cloudsim::endpoints::EndpointServer> m_server;
    CAmazonSDKBridge m_bridge;
    std::string m_connectTo;
};

void RunDirect() {
    const int64_t blocks = g_quick ? 256 : 2048;   // 2048 blocks: 1 GiB
    std::printf("\n== EBS direct reads of %lld x 512 KiB (%.0f MiB) over loopback TLS ==\n",
                static_cast<long long>(blocks), static_cast<double>(blocks) * kBlock / kMiB);
    DirectRig rig(blocks);
    rig.PlainCurl(2);   // warms the cloud's block store and the TLS session code
    std::printf("%7s  %12s %12s %12s  %9s %9s  %s\n", "threads", "curl MiB/s", "plug-in", "plug-in+sum",
                "ratio", "ratio+sum", "client CPU us/block (curl | plug-in | plug-in+sum), server");
    double plugin8 = 0, curl8 = 0;
    std::vector<int> counts{1, 2, 4, 8, 16};
    if (const char* only = std::getenv("BENCH_THREADS")) counts = {std::atoi(only)};
    for (int threads : counts) {
        const PassResult curl = rig.PlainCurl(threads);
        const PassResult off = rig.Plugin(threads, false);
        const PassResult on = rig.Plugin(threads, true);
        if (!curl.ok || !off.ok || !on.ok) std::printf("  (a read failed in this row)\n");
        std::printf("%7d  %12.1f %12.1f %12.1f  %9.2f %9.2f  %.0f | %.0f | %.0f, %.0f\n", threads, curl.mibPerSecond,
                    off.mibPerSecond, on.mibPerSecond, off.mibPerSecond / curl.mibPerSecond,
                    on.mibPerSecond / curl.mibPerSecond, curl.clientCpuUsPerBlock, off.clientCpuUsPerBlock,
                    on.clientCpuUsPerBlock, curl.otherCpuUsPerBlock);
        if (threads == 8) {
            plugin8 = off.mibPerSecond;
            curl8 = curl.mibPerSecond;
            // The server's ceiling: what its CPU per block would allow with
            // every core to itself.
            const double cores = static_cast<double>(std::thread::hardware_concurrency());
            std::printf("         endpoint server: %.0f us CPU per block -> ceiling %.0f MiB/s on %g cores\n",
                        curl.otherCpuUsPerBlock, cores * 1e6 / curl.otherCpuUsPerBlock * kBlock / kMiB, cores);
        }
    }
    if (curl8 <= 0) return;
    std::printf("target: plug-in at 8 threads >= 0.9 x plain libcurl (checksums off): %.2f -> %s\n",
                plugin8 / curl8, plugin8 >= 0.9 * curl8 ? "met" : "MISSED");
    // The tokens held whole (one window over every index, as the client
    // kept them before) against the windows, passes taken in turn so that
    // the machine's load falls on both alike; the best of each.
    // The 1 GiB snapshot fits one default window; windows of 128 blocks make
    // the readers list and drop 16 of them per pass.
    const TokenWindowShape whole{kWholeListingBlocks, 1};
    const TokenWindowShape narrow{128, TokenWindowShape{}.maxWindows};
    double bestWhole = 0, bestWindows = 0, bestNarrow = 0;
    for (int pass = 0; pass < (g_quick ? 2 : 4); ++pass) {
        const PassResult a = rig.Plugin(8, false, whole);
        const PassResult b = rig.Plugin(8, false);
        const PassResult c = rig.Plugin(8, false, narrow);
        if (!a.ok || !b.ok || !c.ok) std::printf("  (a read failed in this pass)\n");
        bestWhole = std::max(bestWhole, a.mibPerSecond);
        bestWindows = std::max(bestWindows, b.mibPerSecond);
        bestNarrow = std::max(bestNarrow, c.mibPerSecond);
    }
    std::printf("8 threads, tokens held whole: %.1f MiB/s, in windows of %lld: %.1f MiB/s, of %lld: %.1f MiB/s\n",
                bestWhole, static_cast<long long>(TokenWindowShape{}.windowBlocks), bestWindows,
                static_cast<long long>(narrow.windowBlocks), bestNarrow);
    // The target is the shape jobs run with; the narrow windows show what a
    // listing per 128 blocks costs, not a shape anything uses.
    std::printf("target: default windows within 5%% of the whole list: %.3f -> %s (narrow windows: %.3f)\n",
                bestWindows / bestWhole, bestWindows >= 0.95 * bestWhole ? "met" : "MISSED", bestNarrow / bestWhole);
    const double boto = rig.Boto3(8);
    if (boto > 0)
        std::printf("target: plug-in at 8 threads >= 3 x boto3: %.2f -> %s (plain libcurl / boto3: %.2f)\n",
                    plugin8 / boto, plugin8 >= 3 * boto ? "met" : "MISSED", curl8 / boto);
}

// ---------------------------------------------------------------- hot-add

void RunHotAdd() {
    const uint64_t size = (g_quick ? 256ULL : 1024ULL) << 20;
    std::printf("\n== \"HOTADD\" device copy of a %llu MiB file (3 of 4 chunks data, 1 a hole) ==\n",
                static_cast<unsigned long long>(size >> 20));
    BenchBase base;
    const std::string device = base.Dir() + "/device.img";
    char imageName[] = "/dev/shm/datapath-bench-image-XXXXXX";
    const int imageFd = mkstemp(imageName);
    if (imageFd < 0) throw std::runtime_error("cannot create an image in /dev/shm");
    close(imageFd);
    {
        const int fd = open(device.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) throw std::runtime_error("cannot create device");
        std::vector<unsigned char> chunk(kBlock);
        for (uint64_t at = 0, n = 0; at < size; at += kBlock, ++n) {
            if (n % 4 == 3) continue;
            for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<unsigned char>((i * 31 + n * 7) | 1);
            if (pwrite(fd, chunk.data(), chunk.size(), static_cast<off_t>(at)) != static_cast<ssize_t>(chunk.size()))
                throw std::runtime_error("cannot write device");
        }
        fsync(fd);
        close(fd);
    }
    auto plainRead = [&] {
        const int fd = open(device.c_str(), O_RDONLY);
        std::vector<char> buffer(kBlock);
        uint64_t total = 0;
        ssize_t n = 0;
        while ((n = read(fd, buffer.data(), buffer.size())) > 0) total += static_cast<uint64_t>(n);
        close(fd);
        return total == size;
    };
    // The least a copy costs: every chunk read and written to an image in
    // the same place, holes and all.
    auto plainCopy = [&] {
        const int in = open(device.c_str(), O_RDONLY);
        const int out = open(imageName, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        std::vector<char> buffer(kBlock);
        uint64_t total = 0;
        ssize_t n = 0;
        while ((n = read(in, buffer.data(), buffer.size())) > 0 &&
               pwrite(out, buffer.data(), static_cast<size_t>(n), static_cast<off_t>(total)) == n)
            total += static_cast<uint64_t>(n);
        const bool ok = fsync(out) == 0 && total == size;
        close(in);
        close(out);
        return ok;
    };
    plainRead();   // into the page cache, for both sides alike
    double bestPlain = 0, bestMover = 0, bestCopy = 0;
    for (int round = 0; round < 3; ++round) {
        auto start = std::chrono::steady_clock::now();
        if (!plainRead()) throw std::runtime_error("short plain read");
        bestPlain = std::max(bestPlain, static_cast<double>(size) / kMiB / Seconds(start));
        CopyStats stats;
        std::string why;
        start = std::chrono::steady_clock::now();
        if (!CopyDevice(device, size, nullptr, imageName, stats, nullptr, why)) throw std::runtime_error(why);
        bestMover = std::max(bestMover, static_cast<double>(size) / kMiB / Seconds(start));
        start = std::chrono::steady_clock::now();
        if (!plainCopy()) throw std::runtime_error("plain copy failed");
        bestCopy = std::max(bestCopy, static_cast<double>(size) / kMiB / Seconds(start));
    }
    unlink(imageName);
    std::printf("plain sequential read: %.0f MiB/s\ndata mover CopyDevice (image in /dev/shm): %.0f MiB/s\n",
                bestPlain, bestMover);
    std::printf("target: data mover >= 0.9 x plain read: %.2f -> %s\n", bestMover / bestPlain,
                bestMover >= 0.9 * bestPlain ? "met" : "MISSED");
    std::printf("plain copy (read + write every chunk to /dev/shm): %.0f MiB/s; data mover / plain copy: %.2f\n",
                bestCopy, bestMover / bestCopy);
}

// ---------------------------------------------------------------- restore

// The restore's write: a 1 GiB image whose data comes in runs of 1 to 8
// blocks between holes of 1 to 4 (about two thirds data), written by
// WriteImageToDevice onto a fresh sparse device file, against writing the
// same data bytes sequentially into a new file of the same file system.
// Both end with an fsync, and both rates count the data bytes only.
void RunRestore() {
    const uint64_t size = (g_quick ? 256ULL : 1024ULL) << 20;
    BenchBase base;
    char imageName[] = "/dev/shm/datapath-bench-restore-XXXXXX";
    const int imageFd = mkstemp(imageName);
    if (imageFd < 0) throw std::runtime_error("cannot create an image in /dev/shm");
    if (ftruncate(imageFd, static_cast<off_t>(size)) != 0) throw std::runtime_error("cannot size the image");
    uint64_t data = 0;
    std::vector<unsigned char> chunk(kBlock);
    uint32_t seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (uint64_t at = 0, n = 0; at < size; ++n) {
        const uint64_t run = std::min<uint64_t>((1 + next() % 8) * kBlock, size - at);
        for (uint64_t b = 0; b < run; b += kBlock) {
            for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<unsigned char>((i * 31 + n * 7) | 1);
            if (pwrite(imageFd, chunk.data(), chunk.size(), static_cast<off_t>(at + b)) != static_cast<ssize_t>(chunk.size()))
                throw std::runtime_error("cannot write the image");
        }
        data += run;
        at += run + (1 + next() % 4) * kBlock;
    }
    close(imageFd);
    std::printf("\n== Restore write of a %llu MiB image (%llu MiB of data between holes) ==\n",
                static_cast<unsigned long long>(size >> 20), static_cast<unsigned long long>(data >> 20));
    const std::string device = base.Dir() + "/device", plain = base.Dir() + "/plain";
    // A fresh volume as the cloud publishes it: a sparse file of its size.
    auto freshDevice = [&] {
        unlink(device.c_str());
        const int fd = open(device.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) throw std::runtime_error("cannot create device");
        close(fd);
    };
    std::vector<char> bytes(4 << 20, 'r');
    auto plainWrite = [&] {
        unlink(plain.c_str());
        const int fd = open(plain.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (uint64_t done = 0; done < data;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(bytes.size(), data - done));
            if (write(fd, bytes.data(), n) != static_cast<ssize_t>(n)) throw std::runtime_error("plain write failed");
            done += n;
        }
        const bool ok = fsync(fd) == 0;
        close(fd);
        return ok;
    };
    double bestPlain = 0, bestMover = 0;
    for (int round = 0; round < 3; ++round) {
        auto start = std::chrono::steady_clock::now();
        if (!plainWrite()) throw std::runtime_error("plain write failed");
        bestPlain = std::max(bestPlain, static_cast<double>(data) / kMiB / Seconds(start));
        unlink(plain.c_str());
        freshDevice();
        WriteStats stats;
        std::string why;
        start = std::chrono::steady_clock::now();
        if (!WriteImageToDevice(imageName, device, size, stats, nullptr, why)) throw std::runtime_error(why);
        bestMover = std::max(bestMover, static_cast<double>(stats.bytesWritten) / kMiB / Seconds(start));
        if (stats.bytesWritten != data) throw std::runtime_error("the restore wrote other than the image's data");
    }
    unlink(imageName);
    unlink(device.c_str());
    std::printf("plain sequential write + fsync: %.0f MiB/s\ndata mover WriteImageToDevice + fsync: %.0f MiB/s\n",
                bestPlain, bestMover);
    std::printf("target: restore write >= 0.9 x plain write: %.2f -> %s\n", bestMover / bestPlain,
                bestMover >= 0.9 * bestPlain ? "met" : "MISSED");
}

// ---------------------------------------------------------------- tokens

// The tokens of a fully allocated snapshot without any cloud: each as long
// as the simulated cloud's, its block's index written into it.
BlockTokenWindows::Lister SyntheticListing(int64_t blocks, std::atomic<int64_t>& listed) {
    const std::string model = cloudsim::BlockToken(kSnapshot, 0);
    return [blocks, model, &listed](int64_t first, int64_t end, std::vector<BlockTokenEntry>& out, int64_t& expiryMs) {
        char digits[24];
        for (int64_t i = first; i < end && i < blocks; ++i) {
            std::string token = model;
            const int n = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(i));
            token.replace(0, static_cast<size_t>(n), digits, static_cast<size_t>(n));
            out.push_back({i, std::move(token)});
        }
        listed += std::min(end, blocks) - first;
        expiryMs = FwClock::NowMs() + cloudsim::kBlockTokenLifetimeMs;
        return true;
    };
}

// Reads every block's token from threads, each taking the next block, as the
// direct read path does; the most token memory held at once.
TokenWindowStats ReadAllTokens(int64_t blocks, TokenWindowShape shape, int threads) {
    BlockTokenWindows windows(kSnapshot, shape, CAmazonDirectSnapshotAccessAPIWrapper::kTokenExpiryMarginMs);
    std::atomic<int64_t> listed{0};
    const BlockTokenWindows::Lister list = SyntheticListing(blocks, listed);
    std::atomic<int64_t> next{0};
    std::atomic<bool> ok{true};
    std::vector<std::thread> readers;
    for (int t = 0; t < threads; ++t)
        readers.emplace_back([&] {
            for (int64_t i = next++; i < blocks; i = next++) {
                BlockTokenWindows::Reading reading(windows, i);
                BlockTokenWindows::Token token;
                if (!windows.Find(reading, i, list, token) || !token.allocated) ok = false;
            }
        });
    for (auto& r : readers) r.join();
    if (!ok || listed < blocks) throw std::runtime_error("a synthetic token was not handed out");
    return windows.Stats();
}

void RunTokens() {
    const int64_t kFull = 131072;                     // 64 GiB
    const int64_t kHuge = (16LL << 40) / kBlock;      // 16 TiB: 33554432 blocks
    std::printf("\n== Block tokens of an open, fully allocated snapshot ==\n");
    BenchBase base;
    // Per block, from the structure's own accounting of one window holding
    // a whole 64 GiB listing.
    const TokenWindowStats whole = ReadAllTokens(kFull, TokenWindowShape{kWholeListingBlocks, 1}, 1);
    const double perBlock = static_cast<double>(whole.peakBytes) / static_cast<double>(kFull);
    const double tokenBytes = static_cast<double>(cloudsim::BlockToken(kSnapshot, 0).size());
    std::printf("held whole: %.1f bytes per block (a token's own bytes: %.0f); 64 GiB: %.1f MiB, 16 TiB: %.2f GiB\n",
                perBlock, tokenBytes, perBlock * kFull / kMiB, perBlock * static_cast<double>(kHuge) / (1 << 30));
    std::printf("target: held < 2 x token bytes: %.2f x -> %s\n", perBlock / tokenBytes,
                perBlock < 2 * tokenBytes ? "met" : "MISSED");
    const TokenWindowShape shape{};
    const auto start = std::chrono::steady_clock::now();
    const TokenWindowStats windows = ReadAllTokens(g_quick ? kFull : kHuge, shape, 8);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("in windows of %lld blocks, at most %zu held, 8 threads over %lld blocks: %llu windows listed, "
                "at most %.2f MiB held (%.1f s)\n",
                static_cast<long long>(shape.windowBlocks), shape.maxWindows,
                static_cast<long long>(g_quick ? kFull : kHuge), static_cast<unsigned long long>(windows.listings),
                static_cast<double>(windows.peakBytes) / kMiB, seconds);
    std::printf("target: at most 64 MiB of token memory for the open snapshot: %.2f MiB -> %s\n",
                static_cast<double>(windows.peakBytes) / kMiB, windows.peakBytes <= (64u << 20) ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    std::string what = "all";
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--quick") g_quick = true;
        else if (arg.rfind("--", 0) != 0) what = arg;
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    try {
        std::printf("machine: %u hardware threads\n", std::thread::hardware_concurrency());
        if (what == "all" || what == "sign") RunSign(argc, argv);
        if (what == "all" || what == "tokens") RunTokens();
        if (what == "all" || what == "hotadd") RunHotAdd();
        if (what == "all" || what == "restore") RunRestore();
        if (what == "all" || what == "direct") RunDirect();
        if (what == "all" || what == "cloud") bench::RunCloudCalls(g_quick);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "datapath-bench: %s\n", e.what());
        return 1;
    }
    curl_global_cleanup();
    return 0;
}

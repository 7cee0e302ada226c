// The README's Slurm array job, run by a real scheduler: a single-node
// Slurm (slurmctld, slurmd and munge on localhost) started for the test and
// stopped after it.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <thread>

#include "e2e/cli_fixture.h"
#include "platform/platform.h"

namespace velmora {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A file's identity and time: an output rewritten gets another.
std::pair<ino_t, int64_t> Stamp(const fs::path& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return {0, 0};
  return {st.st_ino, int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec};
}

std::map<std::string, std::vector<uint8_t>> FilesIn(const fs::path& folder) {
  std::map<std::string, std::vector<uint8_t>> files;
  if (fs::exists(folder))
    for (const auto& e : fs::directory_iterator(folder)) files[e.path().filename()] = test::ReadFile(e.path());
  return files;
}

class SlurmTest : public test::CliTest {
 protected:
  void SetUp() override {
    for (const char* tool : {"munged", "slurmctld", "slurmd", "sbatch", "squeue", "scancel", "sinfo"})
      if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed (slurm-wlm, munge)";
    root_ = dir.Path() / "slurm";
    fs::create_directories(root_ / "state");
    fs::create_directories(root_ / "spool");
    // munge's key: any 1024 bytes only its owner reads.
    std::vector<uint8_t> key(1024);
    std::ifstream("/dev/urandom", std::ios::binary).read(reinterpret_cast<char*>(key.data()), 1024);
    test::WriteFile(root_ / "munge.key", key);
    chmod((root_ / "munge.key").c_str(), 0600);
    if (Sh("munged -f -S '" + Path("munge.sock") + "' --key-file='" + Path("munge.key") + "' --log-file='" +
           Path("munged.log") + "' --pid-file='" + Path("munged.pid") + "' --seed-file='" + Path("munged.seed") + "'") != 0)
      GTEST_SKIP() << "munged cannot start: " << Tail("munged.log");
    munge_ = true;
    // Ports of this process's own, so that runs side by side do not meet.
    const int port = 20000 + static_cast<int>(getpid() % 4000) * 2;
    const std::string user = Output("id -un");
    test::WriteText(Path("slurm.conf"),
                    "ClusterName=velmora\nSlurmctldHost=localhost(127.0.0.1)\nSlurmctldPort=" + std::to_string(port) +
                        "\nSlurmdPort=" + std::to_string(port + 1) + "\nSlurmUser=" + user + "\nSlurmdUser=" + user +
                        "\nAuthType=auth/munge\nAuthInfo=socket=" + Path("munge.sock") +
                        "\nCredType=cred/munge\nStateSaveLocation=" + Path("state") +
                        "\nSlurmdSpoolDir=" + Path("spool") + "\nSlurmctldPidFile=" + Path("slurmctld.pid") +
                        "\nSlurmdPidFile=" + Path("slurmd.pid") + "\nSlurmctldLogFile=" + Path("slurmctld.log") +
                        "\nSlurmdLogFile=" + Path("slurmd.log") +
                        "\nProctrackType=proctrack/linuxproc\nTaskPlugin=task/none\n"
                        "JobAcctGatherType=jobacct_gather/none\nAccountingStorageType=accounting_storage/none\n"
                        "JobCompType=jobcomp/none\nSchedulerType=sched/builtin\nSelectType=select/cons_tres\n"
                        "SelectTypeParameters=CR_CPU\nMpiDefault=none\nReturnToService=2\n"
                        // Eight slots on any machine: the four tasks run side by side.
                        "SlurmdParameters=config_overrides\n"
                        "NodeName=velmora0 NodeAddr=127.0.0.1 NodeHostname=localhost CPUs=8 State=UNKNOWN\n"
                        "PartitionName=main Nodes=velmora0 Default=YES MaxTime=INFINITE State=UP\n");
    if (Sh(Env() + "slurmctld") != 0) GTEST_SKIP() << "slurmctld cannot start: " << Tail("slurmctld.log");
    if (Sh(Env() + "slurmd -N velmora0") != 0) GTEST_SKIP() << "slurmd cannot start: " << Tail("slurmd.log");
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Output(Env() + "sinfo -h -o %t 2>/dev/null") != "idle") {
      if (Clock::now() > deadline)
        GTEST_SKIP() << "the node never became idle: " << Tail("slurmctld.log") << Tail("slurmd.log");
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
  }
  void TearDown() override {
    for (const char* pid : {"slurmd.pid", "slurmctld.pid"})
      if (fs::exists(root_ / pid)) Sh("kill $(cat '" + Path(pid) + "')");
    if (munge_) Sh("munged -s -S '" + Path("munge.sock") + "'");
  }

  std::string Path(const std::string& name) const { return (root_ / name).string(); }
  std::string Env() const { return "SLURM_CONF='" + Path("slurm.conf") + "' "; }
  int Sh(const std::string& command) { return test::Run(command + " >/dev/null 2>&1"); }
  std::string Output(const std::string& command) {
    std::string out;
    test::Run(command, &out);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    return out;
  }
  std::string Tail(const std::string& log) { return Output("tail -n 5 '" + Path(log) + "' 2>&1"); }
  // Submits the script in the test's folder; the job's id.
  std::string Submit(const std::string& script) {
    return Output("cd '" + dir.Path().string() + "' && " + Env() + "sbatch --parsable '" + script + "'");
  }
  void WaitForQueue() {
    const auto deadline = Clock::now() + std::chrono::seconds(120);
    while (!Output(Env() + "squeue -h 2>&1").empty()) {
      ASSERT_LT(Clock::now(), deadline) << Output(Env() + "squeue 2>&1");
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  }

  fs::path root_;
  bool munge_ = false;
};

TEST_F(SlurmTest, TheReadmesArrayJobGivesTheFilesOfOneRunAndSurvivesAKilledTask) {
  // The README's script, for four tasks and this folder.
  const auto readme = test::ReadFile(std::string(VELMORA_SOURCE_DIR) + "/README.md");
  const std::string text(readme.begin(), readme.end());
  std::smatch found;
  ASSERT_TRUE(std::regex_search(text, found, std::regex("A Slurm array job[^\\n]*\\n\\n```sh\\n([^`]*)```")));
  std::string script = found[1];
  script = std::regex_replace(script, std::regex("--array=1-8"), "--array=1-4");
  script = std::regex_replace(script, std::regex("_ID/8"), "_ID/4");
  script = std::regex_replace(script, std::regex("/shared/"), dir.Path().string() + "/");
  script = std::regex_replace(script, std::regex("\\bvelmora-cli "), "'" + test::kCli + "' ");
  ASSERT_NE(script.find("--no-settings"), std::string::npos) << script;
  test::WriteText(dir / "convert.sh", script);

  // In name order, shard K of 4 gets files K and K + 4: task 1 writes a
  // small picture, then spends a while on a large one.
  for (int i = 1; i <= 8; ++i) {
    const int w = i == 5 ? 4000 : 64 + i, h = i == 5 ? 3000 : 48;
    uint32_t seed = 2463534242u + static_cast<uint32_t>(i);
    test::SaveBmp(dir / ("in/p" + std::to_string(i) + ".bmp"), test::RgbBitmap(w, h, [&](int, int) {
                    seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
                    return MakeColor(seed & 255, (seed >> 8) & 255, (seed >> 16) & 255);
                  }));
  }
  ASSERT_EQ(Cli("-f webp --json -r --out ref in").status, 0);

  // Task 1 is killed outright (as a node that fails) once its first output
  // exists, in the middle of the large one.
  const std::string job = Submit("convert.sh");
  ASSERT_FALSE(job.empty());
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  while (!fs::exists(dir / "out/p1.webp")) {
    ASSERT_LT(Clock::now(), deadline) << Output(Env() + "squeue 2>&1");
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ASSERT_EQ(Sh(Env() + "scancel --full --signal=KILL " + job + "_1"), 0);
  WaitForQueue();
  ASSERT_FALSE(fs::exists(dir / "out/p5.webp")) << "task 1 finished before it was killed";
  std::map<std::string, std::pair<ino_t, int64_t>> before;
  int partial = 0;
  for (const auto& e : fs::directory_iterator(dir / "out"))
    if (platform::IsOurTemporary(e.path().filename()))
      ++partial;
    else
      before[e.path().filename()] = Stamp(e.path());
  std::cout << "[ killed   ] " << partial << " partial file(s) left by the killed task\n";
  EXPECT_EQ(before.size(), 7u);

  // Submitted again: it finishes the rest and rewrites nothing.
  ASSERT_FALSE(Submit("convert.sh").empty());
  WaitForQueue();
  const auto written = FilesIn(dir / "out");
  EXPECT_EQ(written, FilesIn(dir / "ref")) << "exactly the files of one unsharded run";
  for (const auto& [name, stamp] : before) EXPECT_EQ(Stamp(dir / ("out/" + name)), stamp) << name << " was rewritten";
  std::string records;
  for (int k = 1; k <= 4; ++k) {
    const auto lines = test::ReadFile(dir / ("results-" + std::to_string(k) + ".jsonl"));
    records.append(lines.begin(), lines.end());
  }
  EXPECT_NE(records.find("\"source\":\"" + (dir / "in/p5.bmp") + "\",\"status\":\"written\""), std::string::npos)
      << records;
  EXPECT_EQ(std::regex_search(records, std::regex("\"status\":\"(failed|refused)\"")), false) << records;
}

}  // namespace
}  // namespace velmora

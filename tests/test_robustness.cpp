// Outputs survive kills and are never put in place of a device or a FIFO,
// and numbers do not depend on the user's locale.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <random>
#include <thread>

#include "test_support.h"

namespace {

// Starts argv in `cwd` and returns its process id (standard streams go to
// /dev/null).
pid_t start(const std::vector<std::string>& argv, const std::string& cwd) {
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir(cwd.c_str()) != 0) _exit(127);
    freopen("/dev/null", "w", stdout);
    freopen("/dev/null", "w", stderr);
    std::vector<char*> args;
    std::vector<std::string> copy = argv;
    for (std::string& a : copy) args.push_back(&a[0]);
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  return pid;
}

}  // namespace

TEST(BuildDatabaseRobustness, KilledAtAnyMomentLeavesTheOldOrTheNewDatabase) {
  TempDir dir;
  const std::vector<std::string> names = {"aaa", "aab", "aaj", "aam"};
  Workspace w = make_workspace(dir.path(), names, {0, 1, 2, 3}, 1, 48, 3);
  write_bank(w.work + "/old.dat", test_kernels(4, 5));
  write_bank(w.work + "/new.dat", test_kernels(6, 7));
  const std::string surfaces = "aaa,aab,aaj,aam";
  ASSERT_EQ(run({program("build_database"), "--filters", "old.dat", "--surfaces", surfaces,
                 "--output", "old20.dat"},
                w.work)
                .status,
            0);
  ASSERT_EQ(run({program("build_database"), "--filters", "new.dat", "--surfaces", surfaces,
                 "--output", "new20.dat"},
                w.work)
                .status,
            0);
  const std::string old_db = read_file(w.work + "/old20.dat");
  const std::string new_db = read_file(w.work + "/new20.dat");
  ASSERT_NE(old_db, new_db);

  // How long a build takes, to spread the kills over the whole of it.
  auto t0 = std::chrono::steady_clock::now();
  run({program("build_database"), "--filters", "new.dat", "--surfaces", surfaces, "--output",
       "timing.dat"},
      w.work);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();

  std::mt19937 g(7);
  std::uniform_real_distribution<double> when(0.0, 1.2 * seconds);
  int old_seen = 0, new_seen = 0;
  for (int attempt = 0; attempt < 40; attempt++) {
    write_file(w.work + "/test20.dat", old_db);
    pid_t pid =
        start({program("build_database"), "--filters", "new.dat", "--surfaces", surfaces}, w.work);
    std::this_thread::sleep_for(std::chrono::duration<double>(when(g)));
    kill(pid, SIGKILL);
    int status;
    waitpid(pid, &status, 0);
    const std::string now = read_file(w.work + "/test20.dat");
    ASSERT_TRUE(now == old_db || now == new_db)
        << "attempt " << attempt << ": a half-written database";
    (now == old_db ? old_seen : new_seen)++;
  }
  // Both outcomes were met, so the kills did fall before and after the rename.
  EXPECT_GT(old_seen, 0);
  EXPECT_GT(new_seen, 0);
}

TEST(Locale, NumbersAreTheSameUnderACommaDecimalLocale) {
  if (!std::setlocale(LC_ALL, "de_DE.UTF-8")) {
    // On the CI machine (CI=true) the locale is installed on purpose
    // (locales-all), so its absence is a failure there, not a skip.
    const char* ci = std::getenv("CI");
    if (ci && std::string(ci) == "true") FAIL() << "de_DE.UTF-8 is not installed";
    GTEST_SKIP() << "de_DE.UTF-8 is not installed";
  }
  std::setlocale(LC_ALL, "C");
  TempDir dir;
  const std::vector<std::string> names = {"aaa", "aab"};
  Workspace w = make_workspace(dir.path(), names, {0, 1}, 4, 32, 3);
  write_bank(w.work + "/filters.dat", test_kernels(4, 5));
  const std::vector<std::string> german = {"LC_ALL=de_DE.UTF-8", "LANG=de_DE.UTF-8"};
  RunResult c =
      run({program("build_database"), "--surfaces", "aaa,aab", "--output", "c.dat"}, w.work);
  RunResult de = run({program("build_database"), "--surfaces", "aaa,aab", "--output", "de.dat"},
                     w.work, german);
  ASSERT_EQ(c.status, 0) << c.err;
  ASSERT_EQ(de.status, 0) << de.err;
  EXPECT_EQ(read_file(w.work + "/c.dat"), read_file(w.work + "/de.dat"));
  EXPECT_NE(read_file(w.work + "/c.dat").find("."), std::string::npos);
  run({"/bin/cp", w.work + "/c.dat", w.work + "/test20.dat"});
  RunResult row_c = run({program("classify_experiment"), "1"}, w.work);
  RunResult row_de = run({program("classify_experiment"), "1"}, w.work, german);
  EXPECT_EQ(row_c.status, 0) << row_c.err;
  EXPECT_EQ(row_de.status, 0) << row_de.err;
  EXPECT_EQ(row_c.out, row_de.out);
  RunResult dir_c = run({program("direction_experiment"), "aab"}, w.work);
  RunResult dir_de = run({program("direction_experiment"), "aab"}, w.work, german);
  EXPECT_EQ(dir_c.status, 0) << dir_c.err;
  EXPECT_EQ(dir_de.status, 0) << dir_de.err;
  EXPECT_EQ(dir_c.out, dir_de.out);
  EXPECT_NE(dir_c.out.find("."), std::string::npos);
}

TEST(Outputs, DevicesFifosAndDescriptorsAreWrittenInPlace) {
  TempDir dir;
  Workspace w = make_workspace(dir.path(), {"aaa", "aab"}, {0, 1}, 2, 24, 2);
  write_bank(w.work + "/filters.dat", test_kernels(4, 5));
  const std::string manifest = w.root + "/data/manifest.csv";
  write_file(manifest, [] {
    std::string text = "surface,set,image,slant,tilt\n";
    for (const char* name : {"aaa", "aab"})
      for (int set : {0, 1})
        for (int tilt = 0; tilt < 360; tilt += 30)
          text += std::string(name) + "," + std::to_string(set) + "," + name + "/" + name +
                  std::to_string(set) + "/" + name + "_45_" + std::to_string(tilt) + ".pgm,45," +
                  std::to_string(tilt) + "\n";
    return text;
  }());
  const std::vector<std::vector<std::string>> commands = {
      {"build_database", "--manifest", manifest},
      {"classify_images", "--manifest", manifest, "--database", "db.dat", "--sets", "1"},
      {"estimate_light", "--manifest", manifest, "--model-set", "0", "--test-set", "1"},
  };
  ASSERT_EQ(
      run({program("build_database"), "--manifest", manifest, "--output", "db.dat"}, w.work).status,
      0);
  for (const auto& command : commands) {
    SCOPED_TRACE(command[0]);
    std::vector<std::string> argv = command;
    argv[0] = program(argv[0]);
    const RunResult to_file = run(
        [&] {
          auto a = argv;
          a.insert(a.end(), {"--output", "file.out"});
          return a;
        }(),
        w.work);
    ASSERT_EQ(to_file.status, 0) << to_file.err;
    const std::string expected = read_file(w.work + "/file.out");

    // Standard output named as a file: the text reaches the pipe.
    auto to = [&](const std::string& target) {
      auto a = argv;
      a.insert(a.end(), {"--output", target});
      return run(a, w.work);
    };
    const RunResult out = to("/dev/stdout");
    EXPECT_EQ(out.status, 0) << out.err;
    EXPECT_EQ(out.out, expected);

    // A FIFO stays a FIFO, and its reader gets the text.
    const std::string fifo = w.work + "/pipe";
    std::remove(fifo.c_str());
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string received;
    std::thread reader([&] { received = read_file(fifo); });
    const RunResult through = to(fifo);
    // (A refusal is the last line: build_database reports progress first.)
    auto refused = [](const RunResult& r, const std::string& text) {
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err.substr(r.err.rfind('\n', r.err.size() - 2) + 1), text + "\n");
    };
    reader.join();
    EXPECT_EQ(through.status, 0) << through.err;
    EXPECT_EQ(received, expected);
    struct stat st;
    ASSERT_EQ(lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    // Device nodes of the test's own (root only): a null device takes the
    // text, a full one refuses it with the reason; both stay devices.
    for (const auto& device : {std::make_pair("null", 3), std::make_pair("full", 7)}) {
      const std::string node = w.work + "/" + device.first;
      std::remove(node.c_str());
      if (mknod(node.c_str(), S_IFCHR | 0666, makedev(1, device.second)) != 0) continue;
      const RunResult r = to(node);
      if (device.second == 3)
        EXPECT_EQ(r.status, 0) << r.err;
      else
        refused(r, node + ": cannot write the file (No space left on device)");
      ASSERT_EQ(lstat(node.c_str(), &st), 0);
      EXPECT_TRUE(S_ISCHR(st.st_mode));
    }
    // A folder is refused.
    refused(to(w.work), w.work + ": cannot write the file (Is a directory)");
  }
}

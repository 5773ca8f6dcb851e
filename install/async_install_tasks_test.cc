#include "install/async_install_tasks.h"

#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "brand/brand_info.h"
#include "brand/distrib_info_params.h"
#include "build_config/endpoints.h"
#include "platform/file_util.h"
#include "tests/support/publisher_log.h"
#include "tests/support/test_paths.h"

namespace installer {
namespace {

std::string ApiUrl(const std::string& path) {
  return std::string("https://") + endpoints::kBrowserApiHost + path;
}

TEST(AsyncInstallTasksTest, ConfigsUrlQuery) {
  struct Case {
    const char* brand_id;
    const char* partner_id;
    std::string expected;
  };
  const Case cases[] = {
      {"", "123", ApiUrl("/configs/all_zip?partnerID=123")},
      {"", "", ApiUrl("/configs/all_zip")},
      {"zb", "", ApiUrl("/configs/all_zip?brandID=zb")},
      {"zb", "77", ApiUrl("/configs/all_zip?brandID=zb&partnerID=77")},
      // Passed on as they are, without escaping.
      {"a b&c", "x=y?", ApiUrl("/configs/all_zip?brandID=a b&c&partnerID=x=y?")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.expected, ConfigsUrl(c.brand_id, c.partner_id))
        << c.brand_id << " / " << c.partner_id;
  }
}

// What the worker ran, with the arguments the tasks were bound to.
struct Recorder {
  struct Call {
    std::string what;
    std::vector<std::string> arguments;
    platform::FilePath target;
    bool target_existed;
    platform::WaitableEvent* cancel;
  };

  InstallTaskOperations Operations(bool stop_after_first = false, bool write_files = true) {
    InstallTaskOperations operations;
    operations.fetch_variations = [this, stop_after_first, write_files](const std::string& url, const platform::FilePath& target,
                                      platform::WaitableEvent* cancel) {
      Record("variations", {url}, target, cancel, write_files);
      if (stop_after_first) cancel->Set();
    };
    operations.fetch_configs = [this, write_files](const std::string& brand_id, const std::string& partner_id,
                                   const platform::FilePath& target,
                                   platform::WaitableEvent* cancel) {
      Record("configs", {brand_id, partner_id}, target, cancel, write_files);
    };
    return operations;
  }

  void Record(const char* what, std::vector<std::string> arguments,
              const platform::FilePath& target, platform::WaitableEvent* cancel,
              bool write_file) {
    bool existed = platform::IsPresent(target);
    if (write_file) test_support::WriteFileBytes(target.value(), what);
    std::lock_guard<std::mutex> lock(mutex);
    calls.push_back({what, std::move(arguments), target, existed, cancel});
  }

  std::mutex mutex;
  std::vector<Call> calls;
};

class Brand : public BrandInfo {
 public:
  Brand() : BrandInfo(L"") {
    set_brand_id("brand-7");
    set_partner_id("partner-9");
    set_variations_url(ApiUrl("/content/get/experiments/browser.proto"));
  }
};

bool HasPrefix(const platform::FilePath& path, const std::wstring& prefix) {
  return path.BaseName().value().compare(0, prefix.size(), prefix) == 0;
}

TEST(AsyncInstallTasksTest, TaskListFollowsTheDistributionParameters) {
  struct Case {
    DistribInfoParams::ParamMap params;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {{}, {}},
      {{{"vup", "1"}}, {"variations"}},
      {{{"scup", "1"}}, {"configs"}},
      {{{"vup", "1"}, {"scup", "1"}}, {"variations", "configs"}},
      {{{"vup", "2"}, {"scup", "true"}}, {}},
      {{{"vup", ""}, {"scup", "1 "}}, {}},
      {{{"vup", "01"}, {"scup", "1"}}, {"configs"}},
      {{{"scu", "1"}, {"vu", "1"}, {"lang", "ru"}}, {}},
  };
  Brand brand;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.expected.size() << " tasks, params " << c.params.size());
    DistribInfoParams params;
    params.SetParamsForTesting(c.params);
    Recorder recorder;
    platform::FilePath variations_path;
    platform::FilePath configs_path;
    {
      AsyncInstallTasks tasks(brand, params, recorder.Operations());
      variations_path = tasks.variations_path();
      configs_path = tasks.configs_path();
      EXPECT_EQ(!c.expected.empty(), tasks.HasWorkerForTesting());
      // Destruction stops the tasks that have not started yet: let them all run first.
      ASSERT_TRUE(tasks.WaitForWorkerForTesting(60000));
    }
    // Destruction joined the worker and removed whatever the tasks wrote.
    ASSERT_EQ(c.expected.size(), recorder.calls.size());
    bool has_variations = false;
    bool has_configs = false;
    for (size_t i = 0; i < c.expected.size(); ++i) {
      const Recorder::Call& call = recorder.calls[i];
      EXPECT_EQ(c.expected[i], call.what);
      // The name was reserved and the file deleted again before the task ran.
      EXPECT_FALSE(call.target_existed);
      EXPECT_FALSE(platform::IsPresent(call.target));
      if (call.what == "variations") {
        has_variations = true;
        EXPECT_EQ(std::vector<std::string>{ApiUrl("/content/get/experiments/browser.proto")},
                  call.arguments);
        EXPECT_EQ(variations_path, call.target);
        EXPECT_TRUE(HasPrefix(call.target, L"vup")) << call.target.value();
      } else {
        has_configs = true;
        EXPECT_EQ((std::vector<std::string>{"brand-7", "partner-9"}), call.arguments);
        EXPECT_EQ(configs_path, call.target);
        EXPECT_TRUE(HasPrefix(call.target, L"scu")) << call.target.value();
      }
    }
    EXPECT_EQ(has_variations, !variations_path.empty());
    EXPECT_EQ(has_configs, !configs_path.empty());
    if (has_variations && has_configs) {
      EXPECT_NE(variations_path, configs_path);
      // Both tasks cancel through the one stop event.
      EXPECT_EQ(recorder.calls[0].cancel, recorder.calls[1].cancel);
    }
  }
}

TEST(AsyncInstallTasksTest, StopBeforeTheSecondTaskSkipsIt) {
  Brand brand;
  DistribInfoParams params;
  params.SetParamsForTesting({{"vup", "1"}, {"scup", "1"}});
  Recorder recorder;
  platform::FilePath configs_path;
  {
    AsyncInstallTasks tasks(brand, params, recorder.Operations(/*stop_after_first=*/true));
    configs_path = tasks.configs_path();
    ASSERT_FALSE(configs_path.empty());
    // The worker ends on its own, without the destructor's stop.
    ASSERT_TRUE(tasks.WaitForWorkerForTesting(60000));
  }
  ASSERT_EQ(1u, recorder.calls.size());
  EXPECT_EQ("variations", recorder.calls[0].what);
  EXPECT_FALSE(platform::IsPresent(configs_path));
}

TEST(AsyncInstallTasksTest, FilesLiveAsLongAsTheTasks) {
  Brand brand;
  DistribInfoParams params;
  params.SetParamsForTesting({{"vup", "1"}, {"scup", "1"}});
  Recorder recorder;
  auto* tasks = new AsyncInstallTasks(brand, params, recorder.Operations());
  platform::FilePath variations_path = tasks->variations_path();
  platform::FilePath configs_path = tasks->configs_path();
  ASSERT_TRUE(tasks->WaitForWorkerForTesting(60000));
  ASSERT_EQ(2u, recorder.calls.size());
  EXPECT_EQ("variations", test_support::ReadFileBytes(variations_path.value()));
  EXPECT_EQ("configs", test_support::ReadFileBytes(configs_path.value()));
  delete tasks;
  EXPECT_FALSE(platform::IsPresent(variations_path));
  EXPECT_FALSE(platform::IsPresent(configs_path));
}

}  // namespace
}  // namespace installer

// ---------------------------------------------------------------------------------------
// Against the fake publisher.

namespace installer {
namespace {

// The publisher's configuration archive when it has none of its own: an empty zip.
const std::string kEmptyZip = std::string("PK\x05\x06", 4) + std::string(18, '\0');

TEST(AsyncInstallTasksTest, BothTasksFetchFromThePublisher) {
  std::string marker = test_support::UniqueMarker();
  Brand brand;
  brand.set_brand_id("b" + marker);
  brand.set_partner_id("p2");
  brand.set_variations_url(
      test_support::PublisherUrl("/content/get/experiments/browser.proto?" + marker));
  DistribInfoParams params;
  params.SetParamsForTesting({{"vup", "1"}, {"scup", "1"}});
  platform::FilePath variations_path;
  platform::FilePath configs_path;
  {
    AsyncInstallTasks tasks(brand, params);
    variations_path = tasks.variations_path();
    configs_path = tasks.configs_path();
    ASSERT_TRUE(tasks.WaitForWorkerForTesting(60000));
    EXPECT_EQ(kEmptyZip, test_support::ReadFileBytes(configs_path.value()));
    EXPECT_NE(std::string::npos, test_support::ReadFileBytes(variations_path.value())
                                     .find("\"variations_country\": \"xx\""));
  }
  std::vector<test_support::PublisherRequest> seen =
      test_support::PublisherRequestsWith(marker, 2);
  ASSERT_EQ(2u, seen.size());
  EXPECT_EQ("/content/get/experiments/browser.proto", seen[0].path);
  EXPECT_EQ("/configs/all_zip", seen[1].path);
  EXPECT_EQ("brandID=b" + marker + "&partnerID=p2", seen[1].query);
  EXPECT_FALSE(platform::IsPresent(variations_path));
  EXPECT_FALSE(platform::IsPresent(configs_path));
}

TEST(AsyncInstallTasksTest, FailedConfigsFetchLeavesNoFile) {
  std::string marker = test_support::UniqueMarker();
  ASSERT_TRUE(test_support::AddPublisherScript(
      "{\"path\": \"/configs/all_zip\", \"query_contains\": \"" + marker +
      "\", \"responses\": [{\"status\": 404}]}"));
  test_support::ScopedTempDir dir;
  platform::FilePath target(dir.File(L"scu1.tmp"));
  platform::WaitableEvent cancel(platform::WaitableEvent::ResetPolicy::kManual,
                                 platform::WaitableEvent::InitialState::kNotSignaled);
  FetchConfigs(marker, "", target, &cancel);
  EXPECT_FALSE(platform::IsPresent(target));
  std::vector<test_support::PublisherRequest> seen = test_support::PublisherRequestsWith(marker);
  ASSERT_EQ(1u, seen.size());
  EXPECT_EQ("brandID=" + marker, seen[0].query);
  EXPECT_EQ(404, seen[0].status);
}

}  // namespace
}  // namespace installer

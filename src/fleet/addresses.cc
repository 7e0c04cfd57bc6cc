#include "fleet/addresses.h"

#include <condition_variable>
#include <memory>
#include <mutex>

namespace hj5::fleet {
namespace {

// Lookups under way at once: a list of names never floods the resolver.
constexpr std::size_t kAtOnce = 64;

// What the lookups' answers are written into; shared with them, so that an
// answer that comes late finds it alive.
struct Answers {
  explicit Answers(std::size_t count) : found(count) {}
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::vector<std::string>> found;  // guarded by mutex
  std::size_t answered = 0;                     // guarded by mutex
};

}  // namespace

std::vector<std::vector<std::string>> ResolveAll(
    NameLookup& lookup, const std::vector<std::string>& hosts,
    std::chrono::milliseconds limit) {
  auto answers = std::make_shared<Answers>(hosts.size());
  std::vector<std::unique_ptr<PendingLookup>> pending;
  const auto deadline = std::chrono::steady_clock::now() + limit;
  std::unique_lock lock(answers->mutex);
  for (std::size_t next = 0; next < hosts.size();) {
    if (next - answers->answered < kAtOnce) {
      lock.unlock();
      pending.push_back(lookup.Start(
          hosts[next], [answers, index = next](LookupResult result) {
            {
              std::lock_guard guard(answers->mutex);
              answers->found[index] = std::move(result.addresses);
              ++answers->answered;
            }
            answers->changed.notify_all();
          }));
      lock.lock();
      ++next;
      continue;
    }
    if (answers->changed.wait_until(lock, deadline) == std::cv_status::timeout)
      break;
  }
  answers->changed.wait_until(
      lock, deadline, [&] { return answers->answered == pending.size(); });
  std::vector<std::vector<std::string>> found = answers->found;
  lock.unlock();
  pending.clear();  // abandons those that did not answer
  return found;
}

}  // namespace hj5::fleet

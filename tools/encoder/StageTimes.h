#pragma once

#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace quillora::encoder {

// The processor time each stage's thread used, so that the benchmark shows which stage sets
// the pace instead of guessing it. Each thread adds its own as it ends.
class StageTimes
{
public:
    void add(std::string stage, double seconds)
    {
        std::lock_guard lock(m_mutex);
        m_times.emplace_back(std::move(stage), seconds);
    }

    [[nodiscard]] std::vector<std::pair<std::string, double>> all() const
    {
        std::lock_guard lock(m_mutex);
        return m_times;
    }

private:
    mutable std::mutex m_mutex;
    std::vector<std::pair<std::string, double>> m_times;
};

} // namespace quillora::encoder

#include "model/document/Uuid.h"

#include <gtest/gtest.h>

#include <set>
#include <thread>
#include <vector>

namespace ostrel::model {
namespace {

TEST(UuidThreads, TwoThreadsGenerateValidDistinctIds) {
    constexpr int kEach = 20000;
    std::vector<Uuid> first(kEach);
    std::vector<Uuid> second(kEach);
    std::thread a([&] { for (auto& id : first) id = Uuid::generate(); });
    std::thread b([&] { for (auto& id : second) id = Uuid::generate(); });
    a.join();
    b.join();

    std::set<Uuid> all;
    for (const auto* list : {&first, &second}) {
        for (const Uuid& id : *list) {
            const std::string text = id.toString();
            EXPECT_EQ(text[14], '4');
            EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos);
            all.insert(id);
        }
    }
    EXPECT_EQ(all.size(), 2u * kEach);
}

}  // namespace
}  // namespace ostrel::model

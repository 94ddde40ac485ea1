#include "platform/foundation/NotificationCenter.h"

#include <gtest/gtest.h>

namespace ww {
namespace {

TEST(NotificationCenterTest, FiltersByNameAndSender) {
    NotificationCenter center;
    int a = 0, any = 0, fromX = 0;
    int x = 0, y = 0;
    center.addObserver("a", nullptr, [&](const Notification&) { ++a; });
    center.addObserver("", nullptr, [&](const Notification&) { ++any; });
    center.addObserver("a", &x, [&](const Notification&) { ++fromX; });
    center.post("a", &y);
    center.post("b", &x);
    center.post("a", &x);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(any, 3);
    EXPECT_EQ(fromX, 1);
}

TEST(NotificationCenterTest, AnObserverMayPostInTurn) {
    NotificationCenter center;
    int second = 0;
    center.addObserver("first", nullptr, [&](const Notification&) { center.post("second", nullptr); });
    center.addObserver("second", nullptr, [&](const Notification&) { ++second; });
    center.post("first", nullptr);
    EXPECT_EQ(second, 1);
}

}  // namespace
}  // namespace ww

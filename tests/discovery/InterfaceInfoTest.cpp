#include <gtest/gtest.h>

#include "discovery/InterfaceInfo.h"

namespace ww {
namespace {

TEST(InterfaceInfo, FreshRecordPrintsNullsAndTheOrderUnsigned) {
    InterfaceInfo info;
    EXPECT_EQ(info.toString(), "(null),(null),(null),(null),(null),(null),0,(null)");
    EXPECT_EQ(info.description(), info.toString());
    info.serviceOrder = -1;
    EXPECT_EQ(info.toString(),
              "(null),(null),(null),(null),(null),(null),18446744073709551615,(null)");
}

}  // namespace
}  // namespace ww

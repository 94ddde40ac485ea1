#include <gtest/gtest.h>

#include "discovery/InterfaceInfo.h"
#include "platform/foundation/Format.h"

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

TEST(InterfaceInfo, FieldOrderOfTheRendering) {
    InterfaceInfo info;
    info.BSDName.set("en7");
    info.displayName.set("Ethernet");
    info.MacAdress.set("00:1c:42:aa:bb:cc");
    info.IPAdress.set("10.0.0.5");
    info.status.set("active");
    EXPECT_EQ(info.toString(), "en7,Ethernet,00:1c:42:aa:bb:cc,10.0.0.5,active,(null),0,(null)");
    info.type.set("");
    info.sysProfilerName.set("Ethernet");
    info.serviceOrder = 3;
    EXPECT_EQ(info.toString(), "en7,Ethernet,00:1c:42:aa:bb:cc,10.0.0.5,active,,3,Ethernet");
}

TEST(InterfaceInfo, TablesShowEachRecordInItsOneLineForm) {
    auto info = std::make_shared<InterfaceInfo>();
    info->BSDName.set("en0");
    InterfaceTable table{{"en0", info}};
    EXPECT_EQ(format("%@", table),
              "{\n    en0 = en0,(null),(null),(null),(null),(null),0,(null);\n}");
    InterfaceList list{info, nullptr};
    EXPECT_EQ(format("%@", list),
              "(\n    en0,(null),(null),(null),(null),(null),0,(null),\n    (null)\n)");
}

}  // namespace
}  // namespace ww

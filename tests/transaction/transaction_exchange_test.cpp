// DoTransaction::run against the simulated device of the harness: the
// request's wire form as it reaches the device, and the day's log of three
// exchanges (bodies with and without the fields the summary lines name),
// each against a golden file beside this test.
#include "transaction/DoTransaction.h"

#include <gtest/gtest.h>

#include <string>

#include "DriverLog.h"
#include "ScopedWorkDir.h"
#include "SimDevice.h"
#include "TestFiles.h"

namespace {

const std::string GOLDEN = SATVARO_SOURCE_DIR "/tests/transaction/golden/";

TEST(Exchange, RequestIsFramedCompressedAndBothSidesAreLogged) {
    ScopedWorkDir workDir;
    const SimDevice device;
    ASSERT_TRUE(
        device.setFaults("ConsultarSAT body abc\n"  // a later line wins
                         "next body 000123|08000|SAT em operacao|0000|ok|x"));
    for (const char* body : {"000123", "", "no-separator"}) {
        zeph::Message reply;
        EXPECT_EQ(DoTransaction().run(6000, "ConsultarSAT", body, reply), 0);
    }
    expectGolden(GOLDEN + "request.wire", device.requests().at(0).wire);
    expectGolden(GOLDEN + "exchanges.log", withoutStamps(readDriverLog()));
}

}  // namespace

// DoTransaction::run against the simulated device of the harness: the
// request as it reaches the device, and the two summary lines it logs, also
// for bodies without the fields they name.
#include "transaction/DoTransaction.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "DriverLog.h"
#include "ScopedWorkDir.h"
#include "SimDevice.h"

namespace {

using ::testing::HasSubstr;

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

    const SimRequest request = device.requests().at(0);
    EXPECT_EQ(request.code, "ConsultarSAT");
    EXPECT_EQ(request.body, "000123");
    for (const char* line :
         {"code:ConsultarSAT\r\n", "source:3\r\n", "drs-version:01.00.01.001\r\n",
          "content-type:z-compressed\r\n", "content-uncompressed-size:6\r\n"}) {
        EXPECT_THAT(request.wire, HasSubstr(line));
    }
    const std::string log = readDriverLog();
    EXPECT_THAT(log, HasSubstr("[info, txCode: ConsultarSAT txSessao:000123 txBufferSize:6]\n"));
    EXPECT_THAT(log, HasSubstr("[info, rxCode: ConsultarSAT rxSessao: 000123 rxEEEEE: 08000 "
                               "rxCCCC: SAT em operacao rxMessage: 0000 rxBufferSize: 38 "
                               "status: 0]\n"));
    EXPECT_THAT(log, HasSubstr("[info, txCode: ConsultarSAT txSessao: txBufferSize:0]\n"));
    EXPECT_THAT(log, HasSubstr("[info, rxCode: ConsultarSAT rxSessao: abc rxEEEEE:   rxCCCC:   "
                               "rxMessage:   rxBufferSize: 3 status: 0]\n"));
    EXPECT_THAT(log, HasSubstr("[info, txCode: ConsultarSAT txSessao:no-separator "
                               "txBufferSize:12]\n"));
}

}  // namespace

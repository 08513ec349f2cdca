// DoTransaction::run against the simulated device of the harness: the
// request as it reaches the device, and the two summary lines it logs.
#include "transaction/DoTransaction.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "DriverLog.h"
#include "ScopedWorkDir.h"
#include "SimDevice.h"

namespace {

using ::testing::HasSubstr;

class Exchange : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(device.available()) << "run through the harness"; }

    int run(const std::string& body, zeph::Message& reply) {
        DoTransaction transaction;
        return transaction.run(6000, "ConsultarSAT", body, reply);
    }

    ScopedWorkDir workDir;
    SimDevice device;
};

TEST_F(Exchange, RequestIsFramedCompressedAndBothSidesAreLogged) {
    ASSERT_TRUE(device.setFaults("next body 000123|08000|SAT em operacao|0000|ok|x"));
    zeph::Message reply;
    EXPECT_EQ(run("000123", reply), 0);
    EXPECT_EQ(reply.body(), "000123|08000|SAT em operacao|0000|ok|x");

    const SimRequest request = device.lastRequest();
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
}

TEST_F(Exchange, MissingFieldsAreLoggedEmptyOrBlank) {
    ASSERT_TRUE(device.setFaults("next body abc"));
    zeph::Message single;
    EXPECT_EQ(run("", single), 0);
    zeph::Message whole;
    EXPECT_EQ(run("no-separator", whole), 0);

    const std::string log = readDriverLog();
    EXPECT_THAT(log, HasSubstr("[info, txCode: ConsultarSAT txSessao: txBufferSize:0]\n"));
    EXPECT_THAT(log, HasSubstr("[info, rxCode: ConsultarSAT rxSessao: abc rxEEEEE:   rxCCCC:   "
                               "rxMessage:   rxBufferSize: 3 status: 0]\n"));
    EXPECT_THAT(log, HasSubstr("[info, txCode: ConsultarSAT txSessao:no-separator "
                               "txBufferSize:12]\n"));
}

}  // namespace

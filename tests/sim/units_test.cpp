// The simulator's building blocks that need no line: access keys, reading
// sale documents, fault lines.
#include <gtest/gtest.h>

#include "sim/Cfe.h"
#include "sim/Faults.h"

using namespace satsim;

TEST(AccessKey, CheckDigitIsModulo11WithWeightsTwoToNine) {
    // A key issued by a real device: 43 digits and check digit 8.
    EXPECT_EQ(8, mod11CheckDigit("3515070872321800018659900004019000021513340"));
    // Remainders 0 and 1 give 11 and 10, both written as 0.
    EXPECT_EQ(0, mod11CheckDigit("0"));
    EXPECT_EQ(0, mod11CheckDigit("6"));  // 6 x 2 = 12, remainder 1
    EXPECT_EQ(1, mod11CheckDigit("5"));  // 5 x 2 = 10, remainder 10
}

TEST(AccessKey, LaysOutTheFortyFourDigits) {
    std::string key =
        accessKeyDigits({"35", "1507", "08723218000186", "900004019", "000021", "513340"});
    EXPECT_EQ("35150708723218000186599000040190000215133408", key);
}

TEST(SaleDocument, ReadsElementsByPathIgnoringAttributesAndOtherParents) {
    const std::string xml =
        "<CFe><infCFe versao=\"0.08\"><ide><CNPJ>16716114000172</CNPJ></ide>"
        "<emit><CNPJ>08723218000186</CNPJ><IE>1</IE></emit><dest/>"
        "<total><vCFe>12.50</vCFe></total></infCFe></CFe>";
    EXPECT_EQ("08723218000186", xmlText(xml, "emit/CNPJ"));
    EXPECT_EQ("16716114000172", xmlText(xml, "CNPJ"));
    EXPECT_EQ("12.50", xmlText(xml, "total/vCFe"));
    EXPECT_EQ("", xmlText(xml, "dest/CPF"));
    EXPECT_EQ("", xmlText(xml, "emit/CNPJX"));
    EXPECT_EQ("", xmlText("<emit><CNPJ>1", "emit/CNPJ"));
}

TEST(FaultLines, AreCheckedBeforeTheyApply) {
    Faults faults;
    std::string error;
    EXPECT_TRUE(applyFault("pieces 3 20", faults, error));
    EXPECT_EQ(3, faults.pieces);
    EXPECT_EQ(20, faults.piecesGapMs);
    EXPECT_TRUE(applyFault("body a\\nb\\\\c d", faults, error));
    EXPECT_EQ("a\nb\\c d", faults.body);
    EXPECT_TRUE(applyFault("contentsize  12", faults, error));
    EXPECT_EQ(" 12", faults.contentSize);
    EXPECT_TRUE(applyFault("delta 1 2 3 4 5 6", faults, error));
    EXPECT_EQ("6", faults.delta[5]);

    EXPECT_FALSE(applyFault("delay", faults, error));
    EXPECT_FALSE(applyFault("delay -5", faults, error));
    EXPECT_FALSE(applyFault("delay 5ms", faults, error));
    EXPECT_FALSE(applyFault("pieces 0 10", faults, error));
    EXPECT_FALSE(applyFault("pieces 5 x", faults, error));
    EXPECT_EQ(3, faults.pieces) << "an invalid line changes nothing";
    EXPECT_FALSE(applyFault("delta 1 2 3", faults, error));
    EXPECT_FALSE(applyFault("explode", faults, error));
    EXPECT_NE(std::string::npos, error.find("explode"));
}

#include "SimTest.h"

#include "sim/Cfe.h"

::testing::AssertionResult isAccessKey(const std::string& key) {
    if (key.size() != 47 || key.compare(0, 3, "CFe") != 0 || !satsim::isDigits(key.substr(3), 44))
        return ::testing::AssertionFailure() << key << " is not CFe + 44 digits";
    int check = satsim::mod11CheckDigit(key.substr(3, 43));
    if (key.back() - '0' != check)
        return ::testing::AssertionFailure() << key << " should end in check digit " << check;
    return ::testing::AssertionSuccess();
}

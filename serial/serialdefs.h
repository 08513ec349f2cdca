// Identifiers of the fiscal device on USB (a CDC-ACM serial gadget).
#ifndef SATVARO_SERIAL_SERIALDEFS_H
#define SATVARO_SERIAL_SERIALDEFS_H

#include <string>

namespace serial {

const std::string SERIAL_VENDOR_ID = "0525";
const std::string SERIAL_PRODUCT_ID = "a4a6";  // discovery compares the vendor id only

}  // namespace serial

#endif

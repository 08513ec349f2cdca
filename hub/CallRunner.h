// A till's call on the device, on the device's thread, with its steps in
// the journal: at the device (on disk before the request goes), then
// settled with its reply. A reply lost after the device may have acted (a
// sale, a cancellation, an end-to-end test or a code change that ended with
// any CodigoErro but 0) is asked of the device at once, before any other
// call: ConsultarNumeroSessao for the call's session, under a session of
// the hub's own. The same settles the calls a hub that died left at the
// device, before it serves anyone.
#ifndef SATVARO_HUB_CALLRUNNER_H
#define SATVARO_HUB_CALLRUNNER_H

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "hub/CallRecord.h"

namespace hub {

class ActivationCode;
class Journal;
class StatusBoard;
struct Arguments;
struct SatFunction;

class CallRunner {
public:
    CallRunner(Journal& journal, ActivationCode& code, StatusBoard& board)
        : m_journal(journal), m_code(code), m_board(board) {}

    // Makes `call` (queued in the journal) on the device and settles it:
    // answered, recovered, not sent (also when the journal cannot say it is
    // at the device: then nothing is sent) or unknown.
    void run(CallRecord& call, const SatFunction& function, const Arguments& arguments);

    // Settles what the journal holds as queued (never sent) or at the device
    // (asked of the device).
    void settleJournal();

    // Asks the device for its status (ConsultarStatusOperacional under a
    // session of the hub's own) for the status board; counts the journal's
    // calls again.
    void askStatus();

private:
    enum class Found { YES, NO, UNKNOWN };

    void recover(CallRecord& call);
    Found askDevice(int session, const std::vector<std::string>& codes, std::string& reply);
    void keep(CallRecord& call);
    // The library's call `call` under the hub's own next session, with the
    // board told what is at the device; empty when no session can be kept.
    std::optional<std::string> ownCall(const char* function,
                                       const std::function<const char*(int)>& call);

    Journal& m_journal;
    ActivationCode& m_code;
    StatusBoard& m_board;
};

}  // namespace hub

#endif

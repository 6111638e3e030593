// The label application's automation server: an in-process COM class with the ProgID
// "STCD3Control.App.2", answering the interface {9B514DAB-39D5-48C5-BF74-93408763BD15}. Its
// methods are reached by their place in the interface's method table (0 to 2 are QueryInterface,
// AddRef and Release); each takes the interface pointer first, wide texts as BSTRs:
//
//     28  (BSTR owner)         the licence owner's name ("Marlune"); remembered
//     10  ()                   opens the application's window for the user; counted
//     14  (LONG value)         first print set-up value (the module passes 0); remembered
//     16  (LONG value)         second print set-up value (the module passes 1); remembered
//     24  (LONG job)           the number of the next print within the job; remembered
//      9  (BSTR file, BSTR printer, BSTR driver, BSTR port)
//                              prints the label design in `file` on `printer`: when the printer
//                              is installed in the world's spooler, one small raw document named
//                              after the file (its name without the folder) is spooled to it
//                              through the spooler calls, and S_OK is answered. A printer that is
//                              not installed, a spooler call that fails, or (with `require_file`)
//                              a design file missing from the world's files prints nothing and
//                              answers E_FAIL.
// Every other method of the table (29 entries unless configured) answers E_NOTIMPL, as the world's
// COM objects do for methods not provided.
//
// Every call is kept in a log (method index and arguments as UTF-8 text) and written to the
// transcript under "label-app". Not installing the server makes CoCreateInstance fail with
// REGDB_E_CLASSNOTREG, as on a machine without the application.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "kernel/kernel.h"

namespace sim {

class World;
struct ComObject;

constexpr const char* kLabelAppProgId = "STCD3Control.App.2";
constexpr const char* kLabelAppIid = "{9B514DAB-39D5-48C5-BF74-93408763BD15}";

struct LabelAppConfig {
    std::string clsid = "{5A7E3C21-90B4-4D6F-8C15-2E9D04B7A6F3}";
    size_t methods = 29;  // entries of the method table, the three standard ones included
    // Print only designs that exist in the world's files (otherwise the file is only looked at
    // and the print record says whether it was found).
    bool require_file = false;
    // Calls and prints held in calls() and prints() (0 = all): a printing job makes several calls
    // per disc, and only the recent ones are held.
    size_t calls_kept = 500;
    size_t prints_kept = 100;
};

// One call of a method, as the server received it.
struct LabelAppCall {
    Micros time = 0;
    int method = 0;
    std::vector<std::string> args;  // UTF-8; numbers in decimal
    HRESULT result = S_OK;
    std::string text() const;       // "9(\"C:\\x.std\", \"Pellan IV\", ...)" style, for messages
};

// One print the application was asked for (method 9).
struct LabelAppPrint {
    Micros time = 0;
    std::string file, printer, driver, port;
    LONG job_number = 0;  // the value method 24 last set
    bool file_found = false;  // the design file exists in the world's files
    bool printed = false; // a document reached the printer
    std::string why;      // why not, when not printed
};

class LabelApp {
public:
    explicit LabelApp(const LabelAppConfig& config = LabelAppConfig());
    LabelApp(const LabelApp&) = delete;
    LabelApp& operator=(const LabelApp&) = delete;

    const LabelAppConfig& config() const { return config_; }
    ComObject* object() const { return object_; }

    // --- what the application was told ----------------------------------------------------------
    // The calls received, oldest first: the most recent `calls_kept`.
    const std::deque<LabelAppCall>& calls() const { return calls_; }
    uint32_t calls_received() const { return calls_received_; }  // every one, held or not
    // The method indexes of the calls held, in order.
    std::vector<int> call_sequence() const;
    const std::string& owner() const { return owner_; }
    uint32_t opened() const { return opened_; }
    LONG setup_value_14() const { return setup14_; }
    LONG setup_value_16() const { return setup16_; }
    LONG job_number() const { return job_number_; }
    // The prints asked for, oldest first: the most recent `prints_kept`.
    const std::deque<LabelAppPrint>& prints() const { return prints_; }
    uint32_t prints_asked() const { return prints_asked_; }  // every one, held or not

    // --- the methods (called through the method table) ------------------------------------------
    HRESULT set_owner(BSTR owner);
    HRESULT open_window();
    HRESULT set_setup_value(int method, LONG value);
    HRESULT set_job_number(LONG job);
    HRESULT print(BSTR file, BSTR printer, BSTR driver, BSTR port);

private:
    friend std::shared_ptr<LabelApp> install_label_app(World& world, const LabelAppConfig& config);
    HRESULT log(int method, std::vector<std::string> args, HRESULT result);

    LabelAppConfig config_;
    ComObject* object_ = nullptr;
    std::deque<LabelAppCall> calls_;
    uint32_t calls_received_ = 0;
    std::string owner_;
    uint32_t opened_ = 0;
    LONG setup14_ = -1;
    LONG setup16_ = -1;
    LONG job_number_ = 0;
    std::deque<LabelAppPrint> prints_;
    uint32_t prints_asked_ = 0;
};

// A BSTR (or any wide text) as UTF-8; a null BSTR is the empty text.
std::string utf8_from_wide(const WCHAR* text);

// Installs the server's class in the world's components and returns the application. Every
// CoCreateInstance of the class hands out the same object.
std::shared_ptr<LabelApp> install_label_app(World& world, const LabelAppConfig& config = LabelAppConfig());

}  // namespace sim

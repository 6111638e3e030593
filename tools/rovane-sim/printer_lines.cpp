// The documents the module sends through the spooler, as `host --wire` and `serve` print them
// beside the robot's commands: a laminator command by its name, any other document by its printer,
// its size and a hash of its bytes. Both worlds print the same line for the same document, so that
// the Wine check can compare what reached the printers.
#include <cstdio>
#include <memory>
#include <string>

#include "devices/laminator.h"
#include "kernel/transcript.h"
#include "printer_lines.h"
#include "tool_commands.h"
#include "win32/spooler.h"

namespace rovane_tool {

namespace {

// FNV-1a, 32 bits: short, and the same on every platform.
uint32_t fnv1a(const std::vector<uint8_t>& bytes) {
    uint32_t h = 2166136261u;
    for (uint8_t b : bytes) {
        h ^= b;
        h *= 16777619u;
    }
    return h;
}

// The name of a laminator command document (8 bytes: 1B 04 code, four zeros, the sum of the seven
// bytes before it), or "" when the bytes are not one.
std::string laminator_command(const std::vector<uint8_t>& b) {
    if (b.size() != 8 || b[0] != 0x1B || b[1] != 0x04 || b[3] || b[4] || b[5] || b[6]) return "";
    uint8_t sum = 0;
    for (size_t i = 0; i < 7; ++i) sum = static_cast<uint8_t>(sum + b[i]);
    if (sum != b[7]) return "";
    switch (b[2]) {
        case sim::kLamCmdTrayIn: return "TRAYIN";
        case sim::kLamCmdTrayOut: return "TRAYOUT";
        case sim::kLamCmdLaminate: return "LAMINATE";
        case sim::kLamCmdHeater: return "HEATER";
        default: {
            char code[16];
            std::snprintf(code, sizeof code, "CODE 0x%02X", b[2]);
            return code;
        }
    }
}

// A printer's model with a witness in front: it hands every document on unchanged and tells the
// witness first.
class WitnessedModel : public sim::PrinterModel {
public:
    WitnessedModel(std::shared_ptr<sim::PrinterModel> inner, DocumentWitness witness)
        : inner_(std::move(inner)), witness_(std::move(witness)) {}
    void on_document(const sim::SpoolDocument& doc) override {
        witness_(doc);
        inner_->on_document(doc);
    }
    uint32_t get_data(const std::string& value_name, uint32_t* type, std::vector<uint8_t>* out) override {
        return inner_->get_data(value_name, type, out);
    }
    uint32_t set_data(const std::string& value_name, uint32_t type, const std::vector<uint8_t>& bytes) override {
        return inner_->set_data(value_name, type, bytes);
    }
    uint32_t status() override { return inner_->status(); }

private:
    std::shared_ptr<sim::PrinterModel> inner_;
    DocumentWitness witness_;
};

}  // namespace

std::string document_line(const sim::SpoolDocument& doc) {
    if (doc.printer == sim::kLaminatorPrinterName) {
        const std::string command = laminator_command(doc.bytes);
        if (!command.empty()) return "lam " + command;
    }
    char rest[64];
    std::snprintf(rest, sizeof rest, " %zu bytes %08x", doc.bytes.size(), fnv1a(doc.bytes));
    return "doc \"" + sim::Transcript::escape(doc.printer) + "\"" + rest;
}

void witness_documents(sim::World& world, const DocumentWitness& witness) {
    for (sim::Printer* p : world.spooler().printers())
        if (p->config.model) p->config.model = std::make_shared<WitnessedModel>(p->config.model, witness);
}

}  // namespace rovane_tool

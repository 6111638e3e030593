// The documents sent to the printers, as host --wire and serve print them.
#pragma once

#include <functional>
#include <string>

#include "win32/spooler.h"
#include "world/world.h"

namespace rovane_tool {

// What `host --wire` and `serve` print for a finished spooler document, after its time: "lam
// LAMINATE" (TRAYIN, TRAYOUT, HEATER, CODE 0xNN) for a laminator command; otherwise
// 'doc "PRINTER" SIZE bytes HASH', HASH the document's FNV-1a hash in 8 hexadecimal digits.
std::string document_line(const sim::SpoolDocument& doc);
using DocumentWitness = std::function<void(const sim::SpoolDocument&)>;
// Puts the witness in front of the model of every printer that has one: it sees each finished
// document before the printer's model does.
void witness_documents(sim::World& world, const DocumentWitness& witness);

}  // namespace rovane_tool

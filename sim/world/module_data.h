// The module's writable data, renewed at each load. Windows maps a DLL's data afresh into every
// process that loads it, so a module always starts from the values its file holds. A program that
// runs one world after another in one process (a swarm's runner) would otherwise hand the second
// world a module that remembers the first: its cached library handles, its settings, its job.
// Linked with module_data.ld, the module's variables lie between two bounds, and the world's
// loader (World::load_module) writes them back to the values they had when the program started.
#pragma once

namespace sim {

// True when this program was linked with the module's data gathered in one place, so that every
// load of the module starts from the program file's values.
bool module_data_renewable();

// The loader's step before DllMain: the first call in a process keeps a copy of the module's data
// (no module code has run yet: the module's variables are plain C data with no constructors);
// every later call writes that copy back. Nothing when the data is not gathered.
void renew_module_data();

}  // namespace sim

// The constant table: named constants and units (in SI base units) with
// their SI-prefixed, squared and cubed families, and the longest-match
// search that the constant reader uses.
#include <algorithm>
#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <new>
#include <string_view>

#include "numio_internal.h"

namespace {

// Descending byte order of the keys: walking from the front, the first key
// that begins a text is the longest one that does.
using Table = std::map<std::string, DPConstant, std::greater<>>;
Table table;
bool table_built = false;     // DPConstantInit
bool table_building = false;  // while dpconstant_init inserts the base entries
size_t longest_key = 0;

struct Prefix {
  const char *text;
  double factor, squared, cubed;
};

// SI prefixes in insertion order; there is no deca and micro is "u".
constexpr std::array<Prefix, 20> Prefixes = {{
    {"Y", 1e24, 1e48, 1e72},    {"Z", 1e21, 1e42, 1e63},
    {"E", 1e18, 1e36, 1e54},    {"P", 1e15, 1e30, 1e45},
    {"T", 1e12, 1e24, 1e36},    {"G", 1e9, 1e18, 1e27},
    {"M", 1e6, 1e12, 1e18},     {"k", 1000, 1e6, 1e9},
    {"h", 100, 1e4, 1e6},       {"", 1, 1, 1},
    {"d", 0.1, 0.01, 0.001},    {"c", 0.01, 1e-4, 1e-6},
    {"m", 0.001, 1e-6, 1e-9},   {"u", 1e-6, 1e-12, 1e-18},
    {"n", 1e-9, 1e-18, 1e-27},  {"p", 1e-12, 1e-24, 1e-36},
    {"f", 1e-15, 1e-30, 1e-45}, {"a", 1e-18, 1e-36, 1e-54},
    {"z", 1e-21, 1e-42, 1e-63}, {"y", 1e-24, 1e-48, 1e-72},
}};

enum class Kind { Plain, Prefixed, Squared, Cubed };

struct BaseEntry {
  Kind kind;
  const char *key;  // the base unit "s" or "m" for Squared and Cubed
  double value;
  const char *quantity;
  const char *unit;
};

const BaseEntry BaseEntries[] = {
    {Kind::Plain, "inf", DBL_MAX, "infinity", nullptr},
    {Kind::Plain, "gamma", 0.5772156649015329, "gamma number", nullptr},
    {Kind::Plain, "pi", 3.141592653589793, "pi number", nullptr},
    {Kind::Plain, "e", 2.718281828459045, "Euler number", nullptr},
    {Kind::Plain, "rad", 1, "angle", "rad"},
    {Kind::Plain, "mrad", 0.001, "angle", "rad"},
    {Kind::Plain, "urad", 1e-6, "angle", "rad"},
    {Kind::Plain, "deg", 0.017453292519943295, "angle", "rad"},
    {Kind::Plain, "mdeg", 1.7453292519943296e-5, "angle", "rad"},
    {Kind::Plain, "udeg", 1.7453292519943295e-8, "angle", "rad"},
    {Kind::Plain, "gon", 0.015707963267948967, "angle", "rad"},
    {Kind::Plain, "mgon", 1.5707963267948967e-5, "angle", "rad"},
    {Kind::Plain, "ugon", 1.5707963267948965e-8, "angle", "rad"},
    {Kind::Plain, "arcmin", 0.0002908882086657216, "angle", "rad"},
    {Kind::Plain, "arcsec", 4.84813681109536e-6, "angle", "rad"},
    {Kind::Plain, "sr", 1, "spherical angle", "sr"},
    {Kind::Plain, "k", 1.3806505e-23, "Boltzmann constant", "J/K"},
    {Kind::Plain, "me", 9.1093826e-31, "electron rest mass", "kg"},
    {Kind::Plain, "mp", 1.67262171e-27, "proton rest mass", "kg"},
    {Kind::Plain, "md", 3.34358335e-27, "deuteron rest mass", "kg"},
    {Kind::Plain, "mn", 1.67492728e-27, "neutron rest mass", "kg"},
    {Kind::Plain, "NA", 6.0221415e23, "Avogadro number", "1/mol"},
    {Kind::Plain, "re", 2.817940325e-15, "classical electron radius", "m"},
    {Kind::Plain, "c", 299792458, "velocity of light", "m/s"},
    {Kind::Plain, "ec", 1.60217653e-19, "electron charge", "C"},
    {Kind::Plain, "h", 6.6260693e-34, "Planck constant", "J*s"},
    {Kind::Plain, "gN", 6.6742e-11, "gravitational constant", "m3/kg/s2"},
    {Kind::Plain, "ga", 9.80665, "gravitational acceleration", "m/s2"},
    {Kind::Plain, "u0", 1.2566370614359173e-6, "permeability of vacuum", "H/m"},
    {Kind::Plain, "e0", 8.854187817620389e-12, "permittivity of vacuum", "F/m"},
    {Kind::Prefixed, "C", 1, "electric charge", "C"},
    {Kind::Prefixed, "V", 1, "voltage", "V"},
    {Kind::Prefixed, "F", 1, "electric capacity", "F"},
    {Kind::Prefixed, "Ohm", 1, "electric resistance", "Ohm"},
    {Kind::Prefixed, "S", 1, "electric conductivity", "S"},
    {Kind::Prefixed, "T", 1, "magnetic induction", "T"},
    {Kind::Prefixed, "G", 0.0001, "magnetic induction", "T"},
    {Kind::Prefixed, "Wb", 1, "magnetic flux", "Wb"},
    {Kind::Prefixed, "H", 1, "magnetic inductivity", "H"},
    {Kind::Prefixed, "A", 1, "electric current", "A"},
    {Kind::Prefixed, "s", 1, "time", "s"},
    {Kind::Plain, "min", 60, "time", "s"},
    {Kind::Plain, "hr", 3600, "time", "s"},
    {Kind::Plain, "d", 86400, "time", "s"},
    {Kind::Squared, "s", 1, "time^2", "s2"},
    {Kind::Prefixed, "Hz", 1, "frequency", "1/s"},
    {Kind::Prefixed, "m", 1, "length", "m"},
    {Kind::Plain, "in", 0.0254, "length", "m"},
    {Kind::Plain, "ft", 0.3048, "length", "m"},
    {Kind::Plain, "yd", 0.9144, "length", "m"},
    {Kind::Plain, "mile", 1609.344, "length", "m"},
    {Kind::Plain, "sm", 1852, "length", "m"},
    {Kind::Plain, "kn", 0.5144444444444445, "speed", "m/s"},
    {Kind::Squared, "m", 1, "area", "m2"},
    {Kind::Plain, "b", 1e-28, "area", "m2"},
    {Kind::Plain, "a", 100, "area", "m2"},
    {Kind::Plain, "ha", 10000, "area", "m2"},
    {Kind::Cubed, "m", 1, "volume", "m3"},
    {Kind::Prefixed, "l", 0.001, "volume", "m3"},
    {Kind::Prefixed, "g", 0.001, "mass", "kg"},
    {Kind::Plain, "lb", 0.45359237, "mass", "kg"},
    {Kind::Plain, "oz", 0.0283495, "mass", "kg"},
    {Kind::Plain, "amu", 1.66053886e-27, "mass", "kg"},
    {Kind::Prefixed, "mol", 1, "molecular amount", "mol"},
    {Kind::Prefixed, "J", 1, "energy", "J"},
    {Kind::Prefixed, "eV", 1.60217653e-19, "energy", "J"},
    {Kind::Prefixed, "cal", 4.1868, "energy", "J"},
    {Kind::Plain, "erg", 1e-7, "energy", "J"},
    {Kind::Plain, "K", 1, "temperature", "K"},
    {Kind::Plain, "mK", 0.001, "temperature", "K"},
    {Kind::Plain, "uK", 1e-6, "temperature", "K"},
    {Kind::Plain, "degK", 1, "temperature", "K"},
    {Kind::Plain, "degC", 1, "temperature", "K"},
    {Kind::Plain, "degF", 0.5555555555555556, "temperature", "K"},
    {Kind::Prefixed, "W", 1, "power", "W"},
    {Kind::Prefixed, "N", 1, "force", "N"},
    {Kind::Plain, "p", 0.00980665, "force", "N"},
    {Kind::Plain, "lbf", 4.4482216152605, "force", "N"},
    {Kind::Plain, "pdl", 0.138255, "force", "N"},
    {Kind::Plain, "dyn", 1e-5, "force", "N"},
    {Kind::Prefixed, "Pa", 1, "pressure", "Pa"},
    {Kind::Prefixed, "bar", 100000, "pressure", "Pa"},
    {Kind::Plain, "atm", 101325, "physical atmospheric pressure", "Pa"},
    {Kind::Plain, "at", 98066.5, "technical atmospheric pressure", "Pa"},
    {Kind::Plain, "psi", 6894.757293168361, "pressure", "Pa"},
    {Kind::Plain, "Torr", 133.3224, "pressure", "Pa"},
    {Kind::Plain, "Byte", 1, "Byte", "Byte"},
    {Kind::Plain, "kByte", 1000, "KiloByte", "Byte"},
    {Kind::Plain, "MByte", 1000000, "MegaByte", "Byte"},
    {Kind::Plain, "GByte", 1000000000, "GigaByte", "Byte"},
    {Kind::Plain, "TByte", 1000000000000, "TeraByte", "Byte"},
    {Kind::Plain, "PByte", 1000000000000000, "PetaByte", "Byte"},
    {Kind::Plain, "EByte", 1e18, "ExaByte", "Byte"},
    {Kind::Plain, "ZByte", 1e21, "ZettaByte", "Byte"},
    {Kind::Plain, "YByte", 1e24, "YottaByte", "Byte"},
    {Kind::Plain, "KiByte", 1024, "KibiByte", "Byte"},
    {Kind::Plain, "MiByte", 1048576, "MebiByte", "Byte"},
    {Kind::Plain, "GiByte", 1073741824, "GibiByte", "Byte"},
    {Kind::Plain, "TiByte", 0x1p40, "TebiByte", "Byte"},
    {Kind::Plain, "PiByte", 0x1p50, "PebiByte", "Byte"},
    {Kind::Plain, "EiByte", 0x1p60, "ExbiByte", "Byte"},
    {Kind::Plain, "ZiByte", 0x1p70, "ZebiByte", "Byte"},
    {Kind::Plain, "YiByte", 0x1p80, "YobiByte", "Byte"},
};

std::optional<std::string> optional_text(const char *text) {
  return text ? std::optional<std::string>(text) : std::nullopt;
}

// Inserts the 20 prefixed keys prefix + base + suffix with the value
// base value ^ power times the prefix factor ^ power.
int insert_family(const char *Quantity, const char *Unit, const char *Baseunit, double Basevalue,
                  int power, size_t max_base_length) {
  if (!Baseunit || std::strlen(Baseunit) > max_base_length) return -1;
  const char *suffix = power == 1 ? "" : power == 2 ? "2" : "3";
  const double base = power == 1   ? Basevalue
                      : power == 2 ? Basevalue * Basevalue
                                   : Basevalue * Basevalue * Basevalue;
  for (const Prefix &p : Prefixes) {
    const double factor = power == 1 ? p.factor : power == 2 ? p.squared : p.cubed;
    std::string key;
    try {
      key = std::string(p.text) + Baseunit + suffix;
    } catch (const std::bad_alloc &) {
      return -1;
    }
    if (dpconstant_insert(Quantity, Unit, key.c_str(), base * factor, nullptr) != 0) return -1;
  }
  return 0;
}

int insert_base_entry(const BaseEntry &e) {
  switch (e.kind) {
    case Kind::Plain:
      return dpconstant_insert(e.quantity, e.unit, e.key, e.value, nullptr);
    case Kind::Prefixed:
      return dpconstant_insert_unit(e.quantity, e.unit, e.key, e.value);
    case Kind::Squared:
      return dpconstant_insert_unit2(e.quantity, e.unit, e.key, e.value);
    case Kind::Cubed:
      return dpconstant_insert_unit3(e.quantity, e.unit, e.key, e.value);
  }
  return -1;
}

void trace_found(const DPConstant &c) {
  if (c.Unit && c.Quantity) {
    printf("  %s = %.15g %s (%s)\n", c.Key.c_str(), c.Value, c.Unit->c_str(), c.Quantity->c_str());
  } else if (c.Unit) {
    printf("  %s = %.15g %s\n", c.Key.c_str(), c.Value, c.Unit->c_str());
  } else if (c.Quantity) {
    printf("  %s = %.15g (%s)\n", c.Key.c_str(), c.Value, c.Quantity->c_str());
  } else {
    printf("  %s = %.15g\n", c.Key.c_str(), c.Value);
  }
}

void print_entry(FILE *out, const DPConstant &c) {
  if (c.Unit && c.Quantity) {
    fprintf(out, "   '%s' = %lg %s (%s)\n", c.Key.c_str(), c.Value, c.Unit->c_str(),
            c.Quantity->c_str());
  } else if (c.Quantity) {
    fprintf(out, "   '%s' = %lg (%s)\n", c.Key.c_str(), c.Value, c.Quantity->c_str());
  } else if (c.Unit) {
    fprintf(out, "   '%s' = %lg %s\n", c.Key.c_str(), c.Value, c.Unit->c_str());
  } else {
    fprintf(out, "   '%s' = %lg\n", c.Key.c_str(), c.Value);
  }
}

void print_entry_verbose(FILE *out, Table::const_iterator it) {
  const DPConstant &c = it->second;
  const char *previous = it == table.begin() ? "(none)" : std::prev(it)->first.c_str();
  const char *next = std::next(it) == table.end() ? "(none)" : std::next(it)->first.c_str();
  fprintf(out, "   Key      = '%s'\n", c.Key.c_str());
  fprintf(out, "   Value    = %lg\n", c.Value);
  fprintf(out, "   Quantity = %s\n", c.Quantity ? c.Quantity->c_str() : "(none)");
  fprintf(out, "   Unit     = %s\n", c.Unit ? c.Unit->c_str() : "(none)");
  fprintf(out, "   Previous = %s\n", previous);
  fprintf(out, "   Next     = %s\n", next);
  fputs("   ------------------------------\n", out);
}

DPConstant *find_exact(std::string_view key) {
  auto it = table.find(key);
  return it == table.end() ? nullptr : &it->second;
}

// The longest key that begins `text`: try every candidate length, longest
// first, with one ordered lookup each.
DPConstant *find_longest_prefix(const char *text) {
  for (size_t length = strnlen(text, longest_key); length > 0; --length) {
    if (DPConstant *c = find_exact(std::string_view(text, length))) return c;
  }
  return nullptr;
}

}  // namespace

int dpconstant_insert(const char *Quantity, const char *Unit, const char *Key, double Value,
                      DPConstant **pdpconstant) {
  DPConstant *entry = nullptr;
  if (Key) {
    try {
      const bool keep_texts = numio_internal::trace_level() > 0;
      auto it = table.find(std::string_view(Key));
      if (it == table.end()) {
        DPConstant fresh{Key, Value, std::nullopt, std::nullopt};
        it = table.emplace(std::string(Key), std::move(fresh)).first;
        longest_key = std::max(longest_key, it->first.size());
      }
      entry = &it->second;
      entry->Value = Value;
      if (keep_texts) {
        entry->Quantity = optional_text(Quantity);
        entry->Unit = optional_text(Unit);
      }
    } catch (const std::bad_alloc &) {
      entry = nullptr;
    }
  }
  if (pdpconstant) *pdpconstant = entry;
  return entry ? 0 : -1;
}

int dpconstant_insert_unit(const char *Quantity, const char *Unit, const char *Baseunit,
                           double Basevalue) {
  return insert_family(Quantity, Unit, Baseunit, Basevalue, 1, 64);
}

int dpconstant_insert_unit2(const char *Quantity, const char *Unit, const char *Baseunit,
                            double Basevalue) {
  return insert_family(Quantity, Unit, Baseunit, Basevalue, 2, 63);
}

int dpconstant_insert_unit3(const char *Quantity, const char *Unit, const char *Baseunit,
                            double Basevalue) {
  return insert_family(Quantity, Unit, Baseunit, Basevalue, 3, 63);
}

int dpconstant_search(const char *Key, DPConstant **pdpconstant, int mode) {
  // The table is built on first use, whichever entry point comes first.
  if (!table_built && !table_building) dpconstant_init();
  DPConstant *found = nullptr;
  if (Key) found = mode == 0 ? find_exact(Key) : find_longest_prefix(Key);
  if (found && numio_internal::trace_level() > 0) trace_found(*found);
  if (pdpconstant) *pdpconstant = found;
  return found ? 0 : -1;
}

void dpconstant_print(FILE *out, int level, int verbose) {
  if (!out || level <= 0) return;
  if (verbose) fputs("   ------------------------------\n", out);
  for (auto it = table.cbegin(); it != table.cend(); ++it) {
    verbose ? print_entry_verbose(out, it) : print_entry(out, it->second);
  }
}

int dpconstant_init() {
  table_building = true;
  for (const BaseEntry &e : BaseEntries) {
    if (insert_base_entry(e) != 0) {
      table_building = false;
      return -1;
    }
  }
  table_building = false;
  table_built = true;
  if (numio_internal::trace_level() > 1) dpconstant_print(stdout, 1, 0);
  return 0;
}

std::vector<const DPConstant *> dpconstant_entries() {
  if (!table_built) dpconstant_init();
  std::vector<const DPConstant *> entries;
  entries.reserve(table.size());
  for (const auto &[key, entry] : table) entries.push_back(&entry);
  return entries;
}

void dpconstant_reset() {
  table.clear();
  table_built = false;
  longest_key = 0;
}

void dpconstant(NumProg *program, const char **ps, int *perrval) {
  numio_internal::set_error(perrval, NumSuccess);
  if (!table_built) dpconstant_init();
  DPConstant *c = nullptr;
  if (dpconstant_search(*ps, &c, 1) != 0) {
    numio_internal::set_error(perrval, NumNoFloatNumber);
    return;
  }
  *ps += c->Key.size();
  if (numprog_append_instruction(program, 0, static_cast<int>(NumCommand::PUSHVAL), 0, c->Value,
                                 nullptr, nullptr) != 0) {
    numio_internal::set_error(perrval, NumProgramError);
  }
}

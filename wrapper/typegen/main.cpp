// zul-typegen: typed COM classes over the exports of zul_pal_mscom, made from a class description.
//   zul-typegen DESCRIPTION [--idl FILE] [--server FILE --header WIDL_HEADER]
// A refused description is reported as "DESCRIPTION:LINE: cause" on stderr, with exit code 1; nothing
// is written then.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "description.h"
#include "idl.h"
#include "server.h"

namespace {

int Usage() {
  std::cerr << "usage: zul-typegen DESCRIPTION [--idl FILE] [--server FILE --header WIDL_HEADER]\n";
  return 2;
}

bool Write(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  out.close();
  if (out) return true;
  std::cerr << path << ": cannot be written\n";
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  std::string description, idl, server, header;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--idl" && i + 1 < argc) {
      idl = argv[++i];
    } else if (arg == "--server" && i + 1 < argc) {
      server = argv[++i];
    } else if (arg == "--header" && i + 1 < argc) {
      header = argv[++i];
    } else if (description.empty() && !arg.empty() && arg[0] != '-') {
      description = arg;
    } else {
      return Usage();
    }
  }
  if (description.empty() || (idl.empty() && server.empty()) || server.empty() != header.empty())
    return Usage();
  std::ifstream in(description, std::ios::binary);
  if (!in) {
    std::cerr << description << ": cannot be read\n";
    return 1;
  }
  std::ostringstream text;
  text << in.rdbuf();
  try {
    const auto model = zul::typegen::ParseDescription(text.str(), description);
    const size_t slash = description.find_last_of("/\\");
    const std::string source = description.substr(slash + 1);
    if (!idl.empty() && !Write(idl, zul::typegen::EmitIdl(model, source))) return 1;
    if (!server.empty() && !Write(server, zul::typegen::EmitServer(model, source, header))) return 1;
    return 0;
  } catch (const zul::typegen::DescriptionError& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
}

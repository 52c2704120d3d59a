// The command language of ZUL_QEL_ExecuteString: one statement per command.
//   command    := [ statement ]
//   statement  := name '=' expression | 'print' [ ',' expression { ',' expression } ]
//               | 'notify' ',' expression ',' expression
//   expression := term { ('+' | '-') term }        term := unary { ('*' | '/') unary }
//   unary      := '-' unary | primary
//   primary    := number | string | name | '(' expression ')' | '[' expression { ',' expression } ']'
#ifndef ZUL_BRIDGE_COMMAND_H
#define ZUL_BRIDGE_COMMAND_H

#include <string>
#include <utility>
#include <vector>

#include "state.h"

namespace zul::bridge {

struct CommandEffects {
  std::vector<std::string> printed;
  std::vector<std::pair<std::string, std::string>> notes;
};

// Changes the process's variables only when the whole statement succeeds.
void ExecuteCommand(Process& process, const std::string& command, CommandEffects& effects);
// Names a variable may have: a letter or '_', then letters, digits and '_'; not a keyword.
bool IsValidName(const std::string& name);

}  // namespace zul::bridge

#endif

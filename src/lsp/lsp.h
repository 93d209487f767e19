// skladba lsp: a language server for scores on standard input and output.
#pragma once

namespace skladba::lsp {

// Serves one client until it says exit or goes away; the exit status.
int spustlsp(int argc, char** argv);

}  // namespace skladba::lsp

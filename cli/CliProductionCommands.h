#pragma once

class TCliArgs;
struct TCliContext;

// The production line: program (each board its own serial, recorded in the ledger) and the
// ledger's own commands. Each returns its exit code or throws TCliError.
class TCliProductionCommands {
public:
  static int Program(TCliContext& context, const TCliArgs& parsed);
  static int LedgerList(TCliContext& context, const TCliArgs& parsed);
  static int LedgerFind(TCliContext& context, const TCliArgs& parsed);
  static int LedgerExport(TCliContext& context, const TCliArgs& parsed);
  static int LedgerCloseStale(TCliContext& context, const TCliArgs& parsed);
};

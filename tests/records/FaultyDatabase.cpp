#include "tests/records/FaultyDatabase.h"

#include "records/PostgresDatabase.h"
#include "records/SqliteDatabase.h"

namespace {

// Whether the next step fails; counts it.
bool Fails(TFaults& faults) {
    const bool fails = ++faults.Steps == faults.FailStep;
    faults.Failures += fails ? 1 : 0;
    return fails;
}

TRegisterError Injected(const std::string& where, const TFaults& faults) {
    return TRegisterError(where + ": a fault at step " + std::to_string(faults.Steps));
}

class TFaultyDatabase final : public TDatabase {
  public:
    TFaultyDatabase(std::unique_ptr<TDatabase> real, TFaults& faults)
        : FReal(std::move(real)), FFaults(faults) {}

    const std::string& Where() const override { return FReal->Where(); }
    const char* IdentityKey() const override { return FReal->IdentityKey(); }
    bool Lost() const override { return FReal->Lost(); }

    std::vector<std::string> Tables() override {
        if (Fails(FFaults)) throw Injected(Where(), FFaults);
        return FReal->Tables();
    }
    void Begin(TTransactionKind kind) override {
        if (Fails(FFaults)) throw Injected(Where(), FFaults);
        FReal->Begin(kind);
    }
    void Commit() override {
        if (!Fails(FFaults)) return FReal->Commit();
        if (FFaults.CommitLands) FReal->Commit();
        throw Injected(Where(), FFaults);
    }
    void Rollback() noexcept override { FReal->Rollback(); }
    void Run(const std::string& sql, const std::vector<TSqlValue>& values,
             const std::function<void(const TSqlRow&)>& row) override {
        const bool chosen =
            !FFaults.FailStatements.empty() && sql.rfind(FFaults.FailStatements, 0) == 0;
        FFaults.Failures += chosen ? 1 : 0;
        if (Fails(FFaults) || chosen) throw Injected(Where(), FFaults);
        FReal->Run(sql, values, row);
    }

  private:
    const std::unique_ptr<TDatabase> FReal;
    TFaults& FFaults;
};

}  // namespace

std::unique_ptr<TDatabase> TFaultyDatabases::File(const std::string& path) const {
    if (Fails(FFaults)) throw Injected(path, FFaults);
    return std::make_unique<TFaultyDatabase>(OpenSqliteDatabase(path), FFaults);
}

std::unique_ptr<TDatabase> TFaultyDatabases::Server(const std::string& location) const {
    if (Fails(FFaults)) throw Injected(location, FFaults);
    return std::make_unique<TFaultyDatabase>(OpenPostgresDatabase(location), FFaults);
}

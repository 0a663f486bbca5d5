#pragma once
// The database's schema, one numbered step at a time. A database records the steps it has had
// in "schema_migrations"; opening it runs the ones it lacks, in one transaction. Steps are
// never changed once released: a change of schema is a new step at the end.

#include "tools/racedata/database.h"

namespace racedata {

// The schema version this program writes.
int latestSchemaVersion();

// Brings the database up to latestSchemaVersion(); throws StoreError. Several instances may
// start on one PostgreSQL database at once: one migrates, the others wait and find it done.
void migrate(Connection& connection);

}  // namespace racedata

#pragma once

// Registers the catalogue driver with Qt under the name "SQLITECIPHER".
// Safe to call any number of times, from any thread; call it before the first
// QSqlDatabase::addDatabase with that driver name.
void RegisterSqlCipherDriver();

#pragma once
// Which results store a command works on: a postgresql:// address (several machines), or a SQLite
// file (a folder stands for its zembra.db). None given: the window's own store, zembra.db in the
// data folder.
#include <memory>
#include <string>

#include "store/results_store.h"
#include "store/store_location.h"

// The store's place, "" resolved to the data folder's zembra.db.
std::string store_location(const std::string& given);

// Opens the store to read from; a SQLite file must exist already. Null after telling why.
std::unique_ptr<ResultsStore> open_store_to_read(const std::string& given);
// Opens the store to write to; a SQLite file is made when missing. Null after telling why.
std::unique_ptr<ResultsStore> open_store_to_write(const std::string& given,
                                                  StoreOptions options = {});

// cDataGetway's own state: the stored connection behind the DB property, and the thread
// the object belongs to. Each member is defined in the folder of its family.
#include "ovtbldiff/gateway.h"

#include "glossary/startup.h"

namespace ovt {

cDataGetway::cDataGetway() : owner_(std::this_thread::get_id()) { glossary::startThread(); }

cDataGetway::~cDataGetway() {
  // Releasing the stored connection never fails the end of the object.
  try {
    db_.reset();
  } catch (...) {
  }
}

void cDataGetway::SetDB(const db::DatabaseRef& value) { db_ = value; }

db::DatabaseRef cDataGetway::DB() const { return db_; }

void cDataGetway::checkThread() const {
  if (std::this_thread::get_id() != owner_)
    raiseError(static_cast<int32_t>(0x8001010Eu), "",
               "The application called an interface that was marshalled for a different thread.");
}

}  // namespace ovt

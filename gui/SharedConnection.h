#pragma once
// The one database connection of the program, as the windows reach it. The
// data module registers its connection here when it is created; windows and
// controls ask for it without knowing the application's top level.
namespace dravon { class Connection; }

void SetSharedConnection(dravon::Connection *connection);
// The registered connection; throws dravon::Error when none is registered.
dravon::Connection &SharedConnection();

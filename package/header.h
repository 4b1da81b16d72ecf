#pragma once
// The configuration header that follows the stub.

// Reads the header at StubSize into Config and sets State.ArchiveStart: just
// after the header, or at StubSize when there is none.
void ReadPackageHeader();

#pragma once
// Where the shared Access fixtures and the independent reader lie: ../shared beside the project,
// or wherever QUORLIN_SHARED points. Tests that need them skip where they are absent; CI points
// QUORLIN_SHARED at nothing once, so that a clone without them stays green.

#include <cstdlib>
#include <filesystem>
#include <string>

namespace quorlin::testing {

inline std::filesystem::path SharedFolder()
{
    if (const char* chosen = std::getenv("QUORLIN_SHARED"); chosen && *chosen) return chosen;
    return QUORLIN_SHARED_DIR;
}
inline std::string SharedFixtures() { return (SharedFolder() / "fixtures").string(); }
inline std::string ExternalFixtures() { return (SharedFolder() / "fixtures" / "external").string(); }
inline std::string AccessOracle() { return (SharedFolder() / "tools" / "access-oracle").string(); }

}  // namespace quorlin::testing

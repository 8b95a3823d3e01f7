#pragma once

namespace duo::config {

// Addresses the application links to. They are configuration: the store pages (a reserved
// example host until the application has a store page of its own) and the host
// whose reachability decides whether the photo services are offered.

/// Host of the application store's pages.
inline constexpr char kStoreHost[] = "apps.marrowby.example";
/// The product's store identifier (the rating page is "/app/id" followed by it).
inline constexpr char kProductStoreIdentifier[] = "590531234";
/// Path of the maker's page in the store.
inline constexpr char kMakerStorePath[] = "/artist/marrowby/id590531200";
/// The social network's web host, watched for reachability.
inline constexpr char kReachabilityHost[] = "www.facebook.com";

}  // namespace duo::config

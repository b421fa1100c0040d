#include "uVersionInfo.h"

namespace {

TVersionResource BuildResource()
{
    return {{"FileVersion", BuildFileVersion}, {"LegalCopyright", BuildLegalCopyright}};
}

std::optional<TVersionResource>& CurrentResource()
{
    static std::optional<TVersionResource> resource = BuildResource();
    return resource;
}

}  // namespace

std::optional<TVersionResource> RunningVersionResource()
{
    return CurrentResource();
}

std::optional<std::string> VersionResourceValue(std::string_view name)
{
    const auto& resource = CurrentResource();
    if (!resource)
        return std::nullopt;
    const auto it = resource->find(name);
    if (it == resource->end())
        return std::nullopt;
    return it->second;
}

void ReplaceVersionResource(std::optional<TVersionResource> resource)
{
    CurrentResource() = std::move(resource);
}

void RestoreBuildVersionResource()
{
    CurrentResource() = BuildResource();
}

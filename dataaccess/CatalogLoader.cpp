#include "dataaccess/CatalogLoader.h"

#include "dataaccess/DbError.h"

namespace tarnwell::db {

void CatalogLoader::checkNotCancelled() {
    const std::lock_guard lock(mutex_);
    if (cancelled_) {
        throw catalogCancelledError();
    }
}

Catalog CatalogLoader::load() {
    checkNotCancelled();
    const std::unique_ptr<CatalogReader> reader = openCatalogReader(request_.backend, request_.attached);
    {
        const std::lock_guard lock(mutex_);
        if (cancelled_) {
            throw catalogCancelledError();
        }
        reader_ = reader.get();
    }
    struct Forget {
        CatalogLoader& loader;
        ~Forget() {
            const std::lock_guard lock(loader.mutex_);
            loader.reader_ = nullptr;
        }
    } forget{*this};
    Catalog catalog = reader->read(request_.progress);
    checkNotCancelled();
    return catalog;
}

void CatalogLoader::cancel() noexcept {
    const std::lock_guard lock(mutex_);
    cancelled_ = true;
    if (reader_ != nullptr) {
        reader_->cancel();
    }
}

}  // namespace tarnwell::db

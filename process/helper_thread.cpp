#include "process/helper_thread.h"

namespace pemlo {

HelperThread::~HelperThread() {
    if (started_) {
        withdraw();
        pthread_mutex_lock(&mutex_);
        quit_ = true;
        pthread_cond_broadcast(&changed_);
        pthread_mutex_unlock(&mutex_);
        pthread_join(thread_, nullptr);
    }
    pthread_cond_destroy(&changed_);
    pthread_mutex_destroy(&mutex_);
}

int HelperThread::start() {
    if (!started_) {
        started_ = pthread_create(&thread_, nullptr, &HelperThread::main, this) == 0;
    }
    return started_ ? 1 : 0;
}

void HelperThread::post(Task task, void* context) {
    pthread_mutex_lock(&mutex_);
    task_ = task;
    context_ = context;
    marked_ = false;
    pthread_cond_broadcast(&changed_);
    pthread_mutex_unlock(&mutex_);
}

void HelperThread::mark() {
    pthread_mutex_lock(&mutex_);
    marked_ = true;
    pthread_cond_broadcast(&changed_);
    pthread_mutex_unlock(&mutex_);
}

void HelperThread::waitMark() {
    pthread_mutex_lock(&mutex_);
    while (task_ != nullptr && !marked_) {
        pthread_cond_wait(&changed_, &mutex_);
    }
    pthread_mutex_unlock(&mutex_);
}

void HelperThread::wait() {
    pthread_mutex_lock(&mutex_);
    while (task_ != nullptr) {
        pthread_cond_wait(&changed_, &mutex_);
    }
    pthread_mutex_unlock(&mutex_);
}

void HelperThread::withdraw() {
    pthread_mutex_lock(&mutex_);
    if (task_ != nullptr && !running_) {
        task_ = nullptr;
    }
    while (task_ != nullptr) {
        pthread_cond_wait(&changed_, &mutex_);
    }
    pthread_mutex_unlock(&mutex_);
}

bool HelperThread::idle() {
    pthread_mutex_lock(&mutex_);
    const bool none = task_ == nullptr;
    pthread_mutex_unlock(&mutex_);
    return none;
}

void* HelperThread::main(void* self) {
    static_cast<HelperThread*>(self)->run();
    return nullptr;
}

void HelperThread::run() {
    pthread_mutex_lock(&mutex_);
    for (;;) {
        while (task_ == nullptr && !quit_) {
            pthread_cond_wait(&changed_, &mutex_);
        }
        if (task_ == nullptr) {  // quit with nothing left to do
            break;
        }
        const Task task = task_;
        void* context = context_;
        running_ = true;
        pthread_mutex_unlock(&mutex_);
        task(*this, context);
        pthread_mutex_lock(&mutex_);
        task_ = nullptr;
        running_ = false;
        pthread_cond_broadcast(&changed_);
    }
    pthread_mutex_unlock(&mutex_);
}

}  // namespace pemlo

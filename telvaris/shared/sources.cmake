target_sources(telvaris_objects PRIVATE shared/feedback_block.cpp)

# cmake -DCORPUS=<dir> -DSEEDS=<dir> -P seed_copy.cmake
# Replaces the directory with a fresh copy of checked-in seeds.
file(REMOVE_RECURSE "${CORPUS}")
file(MAKE_DIRECTORY "${CORPUS}")
file(GLOB seeds "${SEEDS}/*")
file(COPY ${seeds} DESTINATION "${CORPUS}")

# Sourced at the top of each transcript: a clone of the repository after
# `make run`, as a newcomer has it, made in the transcript's own directory.
# Its files are links to the sources, but for a station/ of its own (the
# recipes change it); build/ is the build under test. HOME is a fresh
# directory, so recipes that install into $HOME stay inside the transcript's.
mkdir clone home
for f in "$ZT_SOURCE"/* "$ZT_SOURCE"/.ci; do
    case ${f##*/} in
        station | build | build-*) ;;
        *) ln -s "$f" clone/ ;;
    esac
done
cp -r "$ZT_SOURCE/station" clone/station
ln -s "$ZT_BUILD" clone/build
export HOME=$PWD/home
cd clone

# Example catchment: the smallest control file velmo accepts today; it grows
# with the model.

       COPY GONE.
